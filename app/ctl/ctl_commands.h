#pragma once
// brevak-ctl's commands, run on the thread of the device half's window: in the program over its
// page's device half and stores (so the window shows the change), in the client without the
// program over a device half of its own. One implementation for both: the rules are the
// page's (button_rules.h, the DPI edit's rounding) and the files are the stores' own.

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "page/device_half.h"
#include "platform/winapi.h"
#include "store/bindings_store.h"
#include "store/macro_store.h"
#include "store/profile_store.h"

namespace brevak::ctl {

enum ExitCode : int { kExitDone = 0, kExitRefused = 1, kExitNoMouse = 2, kExitBusy = 3 };

// How long a command waits for the mouse to answer (a receiver answers after its first power
// report), and for the write it asked for to end.
inline constexpr DWORD kAnswerWaitMs = 3000;
inline constexpr DWORD kApplyLimitMs = 60'000;

struct Output {
  int code = kExitDone;
  std::string out, err;
};

enum class Verb { kStatus, kProfiles, kSwitch, kExport, kImport, kDpi, kDpiStage, kButton, kMacros, kExportMacro, kImportMacro, kBind,
                   kUnbind, kBindings };

struct Command {
  Verb verb = Verb::kStatus;
  std::vector<std::string> operands;  // after the verb
  bool json = false;
  bool progress = false;  // the write's progress as lines (stderr is a terminal)
};

std::string HelpText();
// The arguments after the program's name; a refusal (exit 1, the reason in `err`) otherwise.
// --help and --version are the client's own and not commands.
std::variant<Command, Output> ParseArguments(const std::vector<std::string>& args);
// The arguments that ParseArguments reads back into `c`.
std::vector<std::string> ToArguments(const Command& c);
// File operands are made absolute against `cwd`: the program runs elsewhere.
void MakePathsAbsolute(Command& c, const std::filesystem::path& cwd);

// Where a command runs.
class Host {
 public:
  virtual ~Host() = default;
  virtual ProfileStore& profiles() = 0;
  virtual MacroStore& macros() = 0;
  virtual DeviceHalf& device() = 0;
  virtual BindingStore& bindings() = 0;
  // The bindings changed: the program weighs the active window again.
  virtual void BindingsChanged() {}
  // The working record changed (`list`: the profile list or its selection too): shown.
  virtual void Changed(bool list) { (void)list; }
  // The user is in a modal dialog: a command is not run under their hands.
  virtual bool Busy() { return false; }
};

// Runs commands one after the other, on the thread that made it; each ends with `done`.
// A command submitted while another waits for the mouse is queued, never lost.
class Runner {
 public:
  using Progress = std::function<void(const std::string& line)>;
  using Done = std::function<void(const Output&)>;
  explicit Runner(Host& host);
  ~Runner();
  Runner(const Runner&) = delete;
  Runner& operator=(const Runner&) = delete;

  void Submit(Command c, Progress progress, Done done);
  bool idle() const { return !current_ && queue_.empty(); }

 private:
  struct Job;
  void Tick();
  void StartNext();
  void Finish(Output out);
  // The steps of the current job.
  bool WaitingForMouse();
  void Execute();

  Host& host_;
  HWND window_ = nullptr;
  std::unique_ptr<Job> current_;
  std::vector<std::unique_ptr<Job>> queue_;
};

}  // namespace brevak::ctl
