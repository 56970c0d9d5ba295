// The program's entry point: one instance per user, resources from "res/" beside the program,
// the main window centred at 800 x 572, and the message loop until the main window ends.
#include <QGuiApplication>
#include <QSocketNotifier>
#include <QLockFile>
#include <QPixmap>
#include <QStandardPaths>
#include <QTimer>
#include <QWidget>
#include <csignal>
#include <cstdio>
#include <memory>
#include <optional>
#include <string_view>
#include <cstdlib>
#include <fcntl.h>
#include <fontconfig/fontconfig.h>
#include <thread>
#include <unistd.h>

#include "app/autostart.h"
#include "app/ctl/ctl_server.h"
#include "app/main_wnd.h"
#include "app/single_instance.h"
#include "platform/format.h"

using namespace brevak;

namespace {

// 1 is a second start, which the running instance answered.
constexpr int kExitLockFailed = 2;
// The longest a start waits for an ending instance: its write to the mouse on the slowest
// connection, with room.
constexpr int kWaitForEndingMs = 60'000;
// An option the program does not know (sysexits' EX_USAGE).
constexpr int kExitUsage = 64;

constexpr char kUsage[] =
    "Usage: brevak [--autostart]\n"
    "The configuration utility of the BREVAK APEX gaming mouse.\n"
    "  --autostart  start put away: in the tray, or minimised where there is no tray\n"
    "  --help       show this and exit\n"
    "  --version    show the version and exit\n";

// The command line, read before anything needs a display. Returns an exit code when the
// program should end at once.
std::optional<int> ReadCommandLine(int argc, char** argv, bool& autostart) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "--version") {
      std::printf("BREVAK %s\n", BREVAK_VERSION);
      return 0;
    }
    if (arg != kAutostartFlag) {
      std::fprintf(stderr, "BREVAK: unknown option %s\n%s", argv[i], kUsage);
      return kExitUsage;
    }
    autostart = true;
  }
  return std::nullopt;
}

// For the run script and the benchmark: say when the window is up, and save a picture of it.
// The benchmark's second start asks for every section open before the first paint.
void ReportWhenShown(CMainWnd& wnd) {
  if (std::getenv("BREVAK_OPEN_SECTIONS")) wnd.page().OpenAllSections();
  if (std::getenv("BREVAK_REPORT_SHOWN")) {
    wnd.on_first_shown = [] {
      std::printf("shown\n");
      std::fflush(stdout);
    };
    QTimer::singleShot(0, [&wnd] {
      // A window put away at once (no mouse, a start with the desktop) is never exposed.
      if (!wnd.IsVisible() || wnd.IsMinimized()) wnd.ReportFirstShown();
    });
  }
  if (const char* file = std::getenv("BREVAK_SCREENSHOT")) {
    std::string path = file;
    QTimer::singleShot(1000, [&wnd, path] {
      if (wnd.GetWidget() && wnd.GetWidget()->grab().save(QString::fromStdString(path))) {
        std::printf("screenshot %s\n", path.c_str());
      } else {
        std::printf("screenshot failed %s\n", path.c_str());
      }
      std::fflush(stdout);
    });
  }
}

// SIGTERM (logout, a service manager) and SIGINT (Ctrl-C) end the program as the tray menu's
// "exit" does, so the worker is stopped and the stores are saved in order.
int g_signal_pipe[2] = {-1, -1};

void OnSignal(int) {
  const char byte = 1;
  [[maybe_unused]] ssize_t n = write(g_signal_pipe[1], &byte, 1);
}

void EndOnSignals(CMainWnd& wnd) {
  if (pipe2(g_signal_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  auto* notifier = new QSocketNotifier(g_signal_pipe[0], QSocketNotifier::Read, wnd.GetWidget());
  QObject::connect(notifier, &QSocketNotifier::activated, notifier, [&wnd] {
    char buf[16];
    while (read(g_signal_pipe[0], buf, sizeof buf) > 0) {
    }
    if (wnd.GetHWND()) ::DestroyWindow(wnd.GetHWND());
  });
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
}

// The UI library reads "res/" beside the program, starting with "main.xml".
void LoadResources() {
  CPaintManagerUI::SetResourceType(1);
  CPaintManagerUI::SetResourcePath(CPaintManagerUI::GetInstancePath() + u"res/");
  CResourceManager::GetInstance()->LoadResource("main.xml");
}

// An instance holds the lock but neither answers nor ends: said on the terminal and in a message
// box, so a start never ends without a word.
int ReportNoAnswer() {
  std::fprintf(stderr, "BREVAK: another start holds the lock and does not answer\n");
  const QString platform = QGuiApplication::platformName();
  if (platform != QLatin1String("offscreen") && platform != QLatin1String("minimal")) {
    LoadResources();
    CResourceManager::GetInstance()->LoadLanguage("lan.xml");
    CMsgWnd::Show(nullptr, "warning_title_text", "instance_no_answer_text");
  }
  return 1;
}

// The lock could not be taken for another reason than a running instance: the user is told
// why (on the terminal, and in a message box where there is a screen to show it on).
int ReportLockFailure(const QString& reason) {
  std::fprintf(stderr, "BREVAK: %s\n", reason.toLocal8Bit().constData());
  const QString platform = QGuiApplication::platformName();
  if (platform != QLatin1String("offscreen") && platform != QLatin1String("minimal")) {
    LoadResources();
    CResourceManager::GetInstance()->LoadLanguage("lan.xml");
    CMsgWnd::ShowText(nullptr, "warning_title_text", Format(LanguageText(u"lock_failed_text"), CDuiString(reason).str()));
  }
  return kExitLockFailed;
}

}  // namespace

int main(int argc, char** argv) {
  bool autostart = false;
  if (auto code = ReadCommandLine(argc, argv, autostart)) return *code;
  // Reading the font configuration is the largest single step before the first text can be
  // laid out; it runs beside the application's own start and is done before any window exists.
  std::thread fonts([] { FcInit(); });
  // Our windows place themselves and the tray menu opens at the cursor, which Wayland does not
  // allow: on a Wayland desktop the program runs through its X server.
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM") && qEnvironmentVariableIsSet("WAYLAND_DISPLAY") &&
      qEnvironmentVariableIsSet("DISPLAY")) {
    qputenv("QT_QPA_PLATFORM", "xcb");
  }
  CPaintManagerUI::SetInstance();
  auto instance = std::make_unique<SingleInstance>(u"BREVAK APEX");
  // A running instance is asked to come forward; one that is ending (it finishes its write to
  // the mouse first) is waited for, and this start carries on once it has gone.
  if (instance->state() == SingleInstance::State::kAnother &&
      instance->AskOrTakeOver(kMsgBringToFront, kWaitForEndingMs) == SingleInstance::Wait::kTimedOut) {
    fonts.join();
    const int code = ReportNoAnswer();
    instance.reset();
    CPaintManagerUI::Term();
    return code;
  }
  if (instance->state() != SingleInstance::State::kFirst) {
    fonts.join();
    int code = 1;
    if (instance->state() == SingleInstance::State::kFailed) code = ReportLockFailure(instance->error());
    // The application ends as after a run, so what it and the font configuration hold is freed.
    instance.reset();
    CPaintManagerUI::Term();
    return code;
  }
  std::u16string cmdline;
  for (int i = 1; i < argc; ++i) cmdline += (i > 1 ? u" " : u"") + Utf8ToUtf16(argv[i]);
  OutputDebugStringW(Format(u"ilen = %d\r\n", int(cmdline.size())).c_str());

  LoadResources();
  CResourceManager::GetInstance()->LoadLanguage("lan.xml");
  fonts.join();

  int rc = 0;
  {
    ProfileStore profiles;
    MacroStore macros;
    CMainWnd wnd(profiles, macros);
    // A start with the desktop is never shown: it goes straight to the tray or the taskbar.
    const DWORD style = autostart ? 0x96CA0000u & ~WS_VISIBLE : 0x96CA0000u;
    wnd.Create(nullptr, "", style, 0, 0, 0, 800, 572);
    wnd.CenterWindow();
    if (autostart) wnd.StartPutAway(kAutostartTrayWaitMs);
    // brevak-ctl's requests run through the page; a bare connection brings the window forward.
    ctl::PageHost ctl_host(profiles, macros, wnd.page());
    ctl::Server ctl_server(ctl_host, [&wnd] { ::SendMessageW(wnd.GetHWND(), kMsgBringToFront, 0, 0); });
    instance->ListenForOthers(wnd.GetHWND(), kMsgBringToFront, [&ctl_server](LocalPeer* peer) { ctl_server.Adopt(peer); });
    ReportWhenShown(wnd);
    EndOnSignals(wnd);
    rc = CPaintManagerUI::MessageLoop();
    // The window is gone; the worker may still be finishing a write (at most its remaining
    // pauses). A start meanwhile waits for the lock instead of asking a window that is gone.
    instance->StopListening();
  }
  instance.reset();  // its local server before the application goes
  CPaintManagerUI::Term();
  return rc == 0 ? 0 : rc;
}
