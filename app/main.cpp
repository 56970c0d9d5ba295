// The program's entry point: one instance per user, resources from "res/" beside the program,
// the main window centred at 800 x 572, and the message loop until the main window ends.
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QPixmap>
#include <QStandardPaths>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <cstdlib>

#include "app/main_wnd.h"
#include "app/single_instance.h"
#include "platform/format.h"

using namespace brevak;

namespace {

// For the run script and the benchmark: say when the window is up, and save a picture of it.
void ReportWhenShown(CMainWnd& wnd) {
  if (std::getenv("BREVAK_REPORT_SHOWN")) {
    wnd.on_first_shown = [] {
      std::printf("shown\n");
      std::fflush(stdout);
    };
    QTimer::singleShot(0, [&wnd] {
      // A window put away at once (no mouse) is never exposed.
      if (!wnd.IsVisible() && wnd.on_first_shown) {
        auto f = std::move(wnd.on_first_shown);
        wnd.on_first_shown = nullptr;
        f();
      }
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

}  // namespace

int main(int argc, char** argv) {
  CPaintManagerUI::SetInstance();
  SingleInstance instance(u"BREVAK APEX");
  if (!instance.IsFirst()) {
    instance.AskFirstToComeForward(kMsgBringToFront);
    return 1;
  }
  std::u16string cmdline;
  for (int i = 1; i < argc; ++i) cmdline += (i > 1 ? u" " : u"") + Utf8ToUtf16(argv[i]);
  OutputDebugStringW(Format(u"ilen = %d\r\n", int(cmdline.size())).c_str());

  CPaintManagerUI::SetResourceType(1);
  CPaintManagerUI::SetResourcePath(CPaintManagerUI::GetInstancePath() + u"res/");
  CResourceManager::GetInstance()->LoadResource("main.xml");

  int rc = 0;
  {
    ProfileStore profiles;
    MacroStore macros;
    CMainWnd wnd(profiles, macros);
    wnd.Create(nullptr, "", 0x96CA0000u, 0, 0, 0, 800, 572);
    wnd.CenterWindow();
    instance.ListenForOthers(wnd.GetHWND(), kMsgBringToFront);
    ReportWhenShown(wnd);
    rc = CPaintManagerUI::MessageLoop();
  }
  CPaintManagerUI::Term();
  return rc == 0 ? 0 : rc;
}
