// brevak-ctl: the mouse from a shell. With BREVAK running the command goes over its
// single-instance socket and runs through its window; without it, brevak-ctl holds the lock
// (a BREVAK started meanwhile waits for it) and runs the device half itself.
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/autostart.h"
#include "app/ctl/ctl_commands.h"
#include "app/ctl/ctl_headless.h"
#include "app/ctl/ctl_wire.h"
#include "app/local_socket.h"
#include "app/single_instance.h"
#include "ui/duilib.h"

using namespace brevak;
using namespace brevak::ctl;

namespace {

// As long as a start of the program waits for an ending instance: its write on the slowest
// connection, with room.
constexpr int kWaitForLockMs = 60'000;
constexpr int kConnectMs = 500;
constexpr int kRetryLockMs = 250;
// The program answers when the write has ended or its own limit passed.
constexpr int kAnswerLimitMs = int(kApplyLimitMs) + 15'000;

// Progress on a terminal: one line, rewritten in place.
struct ProgressLine {
  bool shown = false;
  void Show(const std::string& text) {
    std::fprintf(stderr, "\r%s\033[K", text.c_str());
    std::fflush(stderr);
    shown = true;
  }
  void End() {
    if (shown) std::fputc('\n', stderr);
    shown = false;
  }
};

int Print(const Output& out, ProgressLine& line) {
  line.End();
  std::fputs(out.out.c_str(), stdout);
  std::fputs(out.err.c_str(), stderr);
  return out.code;
}

// The program's texts ("lan.xml" in "res/" beside it): a new store's profile names and the
// progress lines are the window's. Read as files only; no widget is made.
void LoadTexts() {
  CPaintManagerUI::SetResourcePath(CPaintManagerUI::GetInstancePath() + u"res/");
  if (!CResourceManager::GetInstance()->LoadLanguage("lan.xml")) {
    std::fputs("brevak-ctl: res/lan.xml not found beside the program; texts show their keys\n", stderr);
  }
}

// "autostart [on|off]": the desktop's autostart entry, written here; neither the program nor the
// mouse takes part. Nothing when `args` is another command.
std::optional<int> Autostart(const std::vector<std::string>& args) {
  std::vector<std::string> rest;
  bool json = false;
  for (const std::string& a : args) {
    if (a == "--json") json = true;
    else if (a != "--progress") rest.push_back(a);
  }
  if (rest.empty() || rest[0] != "autostart") return std::nullopt;
  if (rest.size() > 2 || (rest.size() == 2 && rest[1] != "on" && rest[1] != "off")) {
    std::fputs("brevak-ctl: autostart takes on or off (see --help)\n", stderr);
    return kExitRefused;
  }
  if (rest.size() == 2) {
    std::string error;
    if (!SetAutostart(rest[1] == "on", &error)) {
      std::fprintf(stderr, "brevak-ctl: autostart %s: %s\n", rest[1].c_str(), error.c_str());
      return kExitRefused;
    }
  }
  const bool on = AutostartEnabled();
  if (json) std::printf("{\"autostart\": %s}\n", on ? "true" : "false");
  else std::printf("autostart: %s\n", on ? "on" : "off");
  return kExitDone;
}

enum class Sent { kAnswered, kNotListening };

// Sends the command to the running program and prints its answer; kNotListening when no
// program listens (one that is ending, or another brevak-ctl that holds the lock).
Sent SendToProgram(const QString& socket_path, const Command& c, ProgressLine& line, int& code) {
  LocalClient socket;
  if (!socket.Connect(QFile::encodeName(socket_path).toStdString(), kConnectMs)) return Sent::kNotListening;
  // A program that takes no request (it is ending) is not listening.
  if (!socket.WriteAll(EncodeRequest(ToArguments(c)), kConnectMs)) return Sent::kNotListening;
  std::string buffer;
  QElapsedTimer clock;
  clock.start();
  Output out;
  while (clock.elapsed() < kAnswerLimitMs) {
    if (!socket.Read(buffer, 1000)) {
      if (socket.closed()) break;
      continue;
    }
    for (;;) {
      const ParsedRecord r = ParseRecord(buffer);
      if (r.state == Parse::kIncomplete) break;
      if (r.state != Parse::kComplete) {
        // A program that only comes forward (an older one) answers "ok".
        code = Print({kExitRefused, "", "brevak-ctl: BREVAK does not understand brevak-ctl; end it and try again\n"},
                     line);
        return Sent::kAnswered;
      }
      buffer.erase(0, r.consumed);
      switch (r.tag) {
        case Tag::kProgress: line.Show(r.payload); break;
        case Tag::kOut: out.out += r.payload; break;
        case Tag::kErr: out.err += r.payload; break;
        case Tag::kExit:
          out.code = std::atoi(r.payload.c_str());
          code = Print(out, line);
          return Sent::kAnswered;
      }
    }
  }
  out.code = kExitBusy;
  out.err += socket.closed() ? "brevak-ctl: BREVAK ended before it answered\n" : "brevak-ctl: BREVAK did not answer in time\n";
  code = Print(out, line);
  return Sent::kAnswered;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  for (const std::string& a : args) {
    if (a == "--help" || a == "-h") {
      std::fputs(HelpText().c_str(), stdout);
      return kExitDone;
    }
    if (a == "--version") {
      std::printf("brevak-ctl %s\n", BREVAK_VERSION);
      return kExitDone;
    }
  }
  if (std::optional<int> code = Autostart(args)) return *code;
  auto parsed = ParseArguments(args);
  if (auto* refused = std::get_if<Output>(&parsed)) {
    std::fputs(refused->err.c_str(), stderr);
    return refused->code;
  }
  Command command = std::get<Command>(std::move(parsed));
  std::error_code ec;
  MakePathsAbsolute(command, std::filesystem::current_path(ec));
  if (isatty(STDERR_FILENO)) command.progress = true;

  // Qt's core alone: the lock and the socket; no widgets.
  QCoreApplication app(argc, argv);
  SingleInstance instance(u"BREVAK APEX");
  if (instance.state() == SingleInstance::State::kFailed) {
    std::fprintf(stderr, "brevak-ctl: %s\n", instance.error().toLocal8Bit().constData());
    return kExitRefused;
  }
  ProgressLine line;
  QElapsedTimer clock;
  clock.start();
  while (!instance.IsFirst()) {
    int code = 0;
    if (SendToProgram(instance.socket_path(), command, line, code) == Sent::kAnswered) return code;
    if (instance.TryTake(kRetryLockMs)) break;
    if (clock.elapsed() >= kWaitForLockMs) {
      std::fputs("brevak-ctl: another start holds the lock and does not answer\n", stderr);
      return kExitBusy;
    }
  }
  LoadTexts();
  // No listening socket: a BREVAK started now waits for the lock instead of asking this one.
  const Output out = RunHeadless(command, [&line](const std::string& text) { line.Show(text); });
  return Print(out, line);
}
