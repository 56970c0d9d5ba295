#include "app/ctl/ctl_commands.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <optional>

#include "model/button_functions.h"
#include "model/device_values.h"
#include "page/apply_text.h"
#include "page/button_rules.h"
#include "platform/loop.h"
#include "platform/text.h"
#include "protocol/transport.h"
#include "store/names.h"
#include "store/record_files.h"

namespace brevak::ctl {

namespace {

constexpr UINT_PTR kTimerPoll = 1;
// How often a waiting command looks again (the platform clock: virtual in tests).
constexpr UINT kPollMs = 50;

struct VerbInfo {
  Verb verb;
  std::string_view name;
  std::string_view usage;
  size_t min_operands, max_operands;
  int path_operand;   // the operand that is a file, or -1
  bool needs_mouse;   // refused with exit 2 when no connection answers
  bool waits_mouse;   // waits for an answer, but carries on without one
};

constexpr VerbInfo kVerbs[] = {
    {Verb::kStatus, "status", "status", 0, 0, -1, false, true},
    {Verb::kProfiles, "profiles", "profiles", 0, 0, -1, false, false},
    {Verb::kSwitch, "switch", "switch NAME|INDEX", 1, 1, -1, true, true},
    {Verb::kExport, "export", "export NAME|INDEX FILE", 2, 2, 1, false, false},
    {Verb::kImport, "import", "import FILE", 1, 1, 0, false, true},
    {Verb::kDpi, "dpi", "dpi STAGE VALUE", 2, 2, -1, true, true},
    {Verb::kDpiStage, "dpi-stage", "dpi-stage STAGE", 1, 1, -1, true, true},
    {Verb::kButton, "button", "button N FUNCTION | button N shortcut MODIFIERS+KEY | button N macro NAME", 2, 3, -1,
     true, true},
    {Verb::kMacros, "macros", "macros", 0, 0, -1, false, false},
    {Verb::kExportMacro, "export-macro", "export-macro NAME FILE", 2, 2, 1, false, false},
    {Verb::kImportMacro, "import-macro", "import-macro FILE", 1, 1, 0, false, false},
    {Verb::kBind, "bind", "bind NAME|INDEX CLASS", 2, 2, -1, false, false},
    {Verb::kUnbind, "unbind", "unbind NAME|INDEX CLASS", 2, 2, -1, false, false},
    {Verb::kBindings, "bindings", "bindings", 0, 0, -1, false, false},
};

const VerbInfo& InfoOf(Verb v) {
  for (const VerbInfo& i : kVerbs) {
    if (i.verb == v) return i;
  }
  return kVerbs[0];
}

// Modifier bits of a shortcut as the button entry keeps them.
constexpr std::pair<std::string_view, uint8_t> kModifierNames[] = {
    {"ctrl", 1}, {"shift", 2}, {"alt", 4}, {"win", 8}, {"super", 8}};

// Keys by their HID usage, named as on a US keyboard (keys are stored by position).
constexpr std::pair<std::string_view, uint8_t> kKeyNames[] = {
    {"enter", 0x28},  {"esc", 0x29},   {"escape", 0x29}, {"backspace", 0x2A}, {"tab", 0x2B},    {"space", 0x2C},
    {"minus", 0x2D},  {"equal", 0x2E}, {"print", 0x46},  {"insert", 0x49},    {"home", 0x4A},   {"pageup", 0x4B},
    {"delete", 0x4C}, {"end", 0x4D},   {"pagedown", 0x4E}, {"right", 0x4F},   {"left", 0x50},   {"down", 0x51},
    {"up", 0x52},
};
constexpr uint8_t kUsageA = 0x04, kUsage1 = 0x1E, kUsage0 = 0x27, kUsageF1 = 0x3A;
constexpr int kFunctionKeys = 12;
constexpr std::string_view kMenuItemPrefix = "ms_1_";
constexpr std::string_view kCaptionSuffix = "_text";
constexpr size_t kHelpColumns = 96;
// Language keys spelt as they are ("titl_left_text"); on the command line a function goes by
// the word a user types. The key's own spelling is still understood.
constexpr std::pair<std::string_view, std::string_view> kSpokenNames[] = {
    {"titl_left", "tilt_left"},
    {"titl_right", "tilt_right"},
};

// A function's command-line name from its caption key, "_text" left off.
std::string SpokenName(std::string_view caption_key) {
  std::string_view name = caption_key.substr(0, caption_key.size() - kCaptionSuffix.size());
  for (const auto& [key, spoken] : kSpokenNames) {
    if (name == key) name = spoken;
  }
  return std::string(name);
}

Output Refuse(std::string reason) { return {kExitRefused, "", "brevak-ctl: " + std::move(reason) + "\n"}; }

std::string Lower(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    if (c == '-') c = '_';
  }
  return s;
}

// A whole decimal number, or nothing.
std::optional<long> Number(std::string_view s) {
  long v = 0;
  if (s.empty() || s.size() > 9) return std::nullopt;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || end != s.data() + s.size() || v < 0) return std::nullopt;
  return v;
}

std::optional<uint8_t> KeyUsage(const std::string& key) {
  if (key.size() == 1 && key[0] >= 'a' && key[0] <= 'z') return uint8_t(kUsageA + (key[0] - 'a'));
  if (key.size() == 1 && key[0] >= '1' && key[0] <= '9') return uint8_t(kUsage1 + (key[0] - '1'));
  if (key == "0") return kUsage0;
  if (key.size() >= 2 && key[0] == 'f') {
    if (auto n = Number(key.substr(1)); n && *n >= 1 && *n <= kFunctionKeys) return uint8_t(kUsageF1 + *n - 1);
  }
  for (const auto& [name, usage] : kKeyNames) {
    if (key == name) return usage;
  }
  return std::nullopt;
}

// "ctrl+shift+s": the modifier bits and the key's usage.
std::optional<std::pair<uint8_t, uint8_t>> ParseShortcut(const std::string& text) {
  std::string s = Lower(text);
  uint8_t modifiers = 0;
  for (size_t plus; (plus = s.find('+')) != std::string::npos && plus + 1 < s.size();) {
    const std::string word = s.substr(0, plus);
    auto it = std::find_if(std::begin(kModifierNames), std::end(kModifierNames),
                           [&](const auto& m) { return m.first == word; });
    if (it == std::end(kModifierNames)) return std::nullopt;
    modifiers |= it->second;
    s = s.substr(plus + 1);
  }
  auto key = KeyUsage(s);
  if (!key) return std::nullopt;
  return std::pair{modifiers, *key};
}

// A function of the menu by its item's name or its caption's key, "ms_1_" and "_text" left
// off: "right_click" or "menu", "dpi_up", "button_off".
const ButtonFunction* FunctionByName(const std::string& name) {
  const std::string n = Lower(name);
  for (const ButtonFunction& f : ButtonFunctionTable()) {
    if (f.menu_item.empty() || f.composed_caption) continue;
    if (f.menu_item.substr(kMenuItemPrefix.size()) == n) return &f;
    if (f.caption_key.size() > kCaptionSuffix.size() &&
        (f.caption_key.substr(0, f.caption_key.size() - kCaptionSuffix.size()) == n || SpokenName(f.caption_key) == n))
      return &f;
  }
  return nullptr;
}

std::string FunctionNames() {
  std::string names;
  for (const ButtonFunction& f : ButtonFunctionTable()) {
    if (f.menu_item.empty() || f.composed_caption || f.caption_key.empty()) continue;
    std::string name = SpokenName(f.caption_key);
    std::replace(name.begin(), name.end(), '_', '-');
    // Wrapped for a terminal of 100 columns.
    const size_t line = names.size() - names.rfind('\n');
    names += names.empty() ? "  " : line + name.size() > kHelpColumns ? ",\n  " : ", ";
    names += name;
  }
  return names;
}

std::string Json(std::string_view s) {
  std::string out = "\"";
  for (char c : s) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      default:
        if (uint8_t(c) < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

// Connections by name, in the order status names the one in use.
constexpr std::pair<Transport, std::string_view> kConnectionNames[] = {
    {Transport::kCable, "cable"},
    {Transport::kReceiver8k, "receiver-8k"},
    {Transport::kReceiver4k, "receiver-4k"},
    {Transport::kReceiver1k, "receiver-1k"},
};

struct ConnectionState {
  std::string_view name = "none";
  bool answering = false;
};

ConnectionState Connection(const TransportFlags& flags) {
  for (const auto& [t, name] : kConnectionNames) {
    const ConnectionFlagFields f = FlagFieldsOf(t);
    if ((flags.*f.state) != kPresent) continue;
    return {name, !f.answering || (flags.*f.answering) != 0};
  }
  if (flags.ble_connected) return {"bluetooth", true};
  return {};
}

// Saves "pro.data"; a save that failed is the command's failure, never reported as done.
bool SaveProfiles(ProfileStore& profiles, Output& out) {
  auto lock = profiles.Lock();
  if (profiles.Save()) return true;
  out.code = kExitRefused;
  out.out.clear();
  out.err += "brevak-ctl: pro.data could not be saved; the change is not kept\n";
  return false;
}

}  // namespace

std::string HelpText() {
  std::string usage =
      "Usage: brevak-ctl [--json] COMMAND [ARGUMENTS]\n"
      "Sets up the BREVAK APEX mouse from a shell. With BREVAK running the command goes through its\n"
      "window; without it brevak-ctl talks to the mouse itself.\n\nCommands:\n";
  for (const VerbInfo& v : kVerbs) usage += "  " + std::string(v.usage) + "\n";
  usage += "  autostart [on|off]   start BREVAK with the desktop, or not (without on|off: which)\n";
  usage +=
      "\nProfiles are numbered from 1 as the window lists them; a NAME that is also a number is a name\n"
      "when such a profile exists. STAGE is 1..8; VALUE is in DPI (50..26000, in steps of 50).\n"
      "N is a button 1..12; FUNCTION is one of:\n" +
      FunctionNames() +
      ".\nMODIFIERS are ctrl, shift, alt and win joined by '+'; KEY is a letter, a digit, f1..f12 or\n"
      "enter, esc, backspace, tab, space, insert, delete, home, end, pageup, pagedown, up, down, left, right.\n"
      "CLASS is the class of a program's windows (WM_CLASS): while such a window is the active one,\n"
      "BREVAK switches to the profile bound to it.\n"
      "\nOptions:\n  --json      machine-readable output\n  --progress  progress of a write on stderr (the default "
      "on a terminal)\n  --help      this text\n  --version   the version\n"
      "\nExit codes: 0 done, 1 refused, 2 no mouse, 3 busy.\n";
  return usage;
}

std::variant<Command, Output> ParseArguments(const std::vector<std::string>& args) {
  Command c;
  std::vector<std::string> rest;
  for (const std::string& a : args) {
    if (a == "--json") c.json = true;
    else if (a == "--progress") c.progress = true;
    else if (a.size() > 1 && a[0] == '-' && rest.empty()) return Refuse("unknown option " + a + " (see --help)");
    else rest.push_back(a);
  }
  if (rest.empty()) return Refuse("no command (see --help)");
  const VerbInfo* info = nullptr;
  for (const VerbInfo& v : kVerbs) {
    if (v.name == rest[0]) info = &v;
  }
  if (!info) return Refuse("unknown command " + rest[0] + " (see --help)");
  c.verb = info->verb;
  c.operands.assign(rest.begin() + 1, rest.end());
  if (c.operands.size() < info->min_operands || c.operands.size() > info->max_operands) {
    return Refuse("usage: brevak-ctl " + std::string(info->usage));
  }
  if (info->path_operand >= 0 && c.operands[size_t(info->path_operand)].empty()) return Refuse("an empty file name");
  return c;
}

std::vector<std::string> ToArguments(const Command& c) {
  std::vector<std::string> args;
  if (c.json) args.push_back("--json");
  if (c.progress) args.push_back("--progress");
  args.emplace_back(InfoOf(c.verb).name);
  args.insert(args.end(), c.operands.begin(), c.operands.end());
  return args;
}

void MakePathsAbsolute(Command& c, const std::filesystem::path& cwd) {
  const int i = InfoOf(c.verb).path_operand;
  if (i < 0 || size_t(i) >= c.operands.size()) return;
  std::filesystem::path p(c.operands[size_t(i)]);
  if (p.is_relative()) c.operands[size_t(i)] = (cwd / p).lexically_normal().string();
}

// ---------------------------------------------------------------------------------------------

struct Runner::Job {
  Command command;
  Progress progress;
  Done done;
  enum class Step { kWaitMouse, kWaitApply } step = Step::kWaitMouse;
  DWORD since = 0;
  uint64_t ticket = 0;
  std::string written_json;  // extra fields of a write's --json answer
  DWORD pauses_ms = 0;       // the pauses the protocol asked of the writes waited for
};

Runner::Runner(Host& host) : host_(host) {
  window_ = CreateMessageWindow([this](HWND, UINT msg, WPARAM w, LPARAM) -> LRESULT {
    if (msg == WM_TIMER && w == kTimerPoll) Tick();
    return 0;
  });
  host_.device().on_progress = [this](const ApplyProgress& p) {
    // The first frame's time left is the whole write's.
    if (current_ && current_->step == Job::Step::kWaitApply && p.frame == 1) current_->pauses_ms += p.ms_left;
    if (current_ && current_->command.progress && current_->progress) {
      current_->progress(Utf16ToUtf8(ApplyProgressText(p)));
    }
  };
}

Runner::~Runner() {
  host_.device().on_progress = nullptr;
  KillTimer(window_, kTimerPoll);
  DestroyWindow(window_);
}

void Runner::Submit(Command c, Progress progress, Done done) {
  auto job = std::make_unique<Job>();
  job->command = std::move(c);
  job->progress = std::move(progress);
  job->done = std::move(done);
  queue_.push_back(std::move(job));
  if (!current_) StartNext();
}

void Runner::StartNext() {
  while (!current_ && !queue_.empty()) {
    current_ = std::move(queue_.front());
    queue_.erase(queue_.begin());
    if (host_.Busy()) {
      Finish({kExitBusy, "", "brevak-ctl: BREVAK has a dialog open; finish it and try again\n"});
      continue;
    }
    current_->since = GetTickCount();
    current_->step = Job::Step::kWaitMouse;
    Tick();
  }
}

void Runner::Finish(Output out) {
  std::unique_ptr<Job> job = std::move(current_);
  KillTimer(window_, kTimerPoll);
  if (job->done) job->done(out);
}

bool Runner::WaitingForMouse() {
  const VerbInfo& info = InfoOf(current_->command.verb);
  if (!info.needs_mouse && !info.waits_mouse) return false;
  const TransportFlags& flags = host_.device().monitor.flags();
  if (GetTickCount() - current_->since >= kAnswerWaitMs || !AnyPresent(flags)) return false;
  // The status waits for a power report too; the others for a connection that answers.
  if (current_->command.verb == Verb::kStatus) return host_.device().monitor.power().percent < 0;
  return !ApplyAllowed(flags);
}

void Runner::Tick() {
  if (!current_) return;
  if (current_->step == Job::Step::kWaitMouse) {
    if (WaitingForMouse()) {
      SetTimer(window_, kTimerPoll, kPollMs, nullptr);
      return;
    }
    Execute();
    return;
  }
  // Waiting for the write that the command asked for.
  DeviceHalf& device = host_.device();
  if (device.worker.RequestsTaken() < current_->ticket) {
    if (GetTickCount() - current_->since < kApplyLimitMs) {
      SetTimer(window_, kTimerPoll, kPollMs, nullptr);
      return;
    }
    Finish({kExitBusy, "", "brevak-ctl: the write to the mouse has not ended within a minute; it goes on\n"});
    StartNext();
    return;
  }
  const ApplyReport report = device.worker.LastReport();
  Output out;
  // The apply saved the store; saved again for an apply that did not run, and to know.
  if (!SaveProfiles(host_.profiles(), out)) {
    Finish(out);
    StartNext();
    return;
  }
  const bool complete = report.ran && !report.pending.Any() && !report.full_write_pending;
  if (current_->command.progress) out.err = Utf16ToUtf8(ApplyEndText(report)) + "\n";
  if (!complete) {
    out.code = kExitNoMouse;
    out.err += "brevak-ctl: the mouse did not take everything; saved, and sent when it answers again\n";
  }
  if (current_->command.json) {
    out.out = "{\"written\":" + std::string(complete ? "true" : "false") + current_->written_json +
              ",\"pauses_ms\":" + std::to_string(current_->pauses_ms) + "}\n";
  }
  Finish(out);
  StartNext();
}

void Runner::Execute() {
  Job& job = *current_;
  const Command& c = job.command;
  const VerbInfo& info = InfoOf(c.verb);
  Host& host = host_;
  DeviceHalf& device = host.device();
  ProfileStore& profiles = host.profiles();
  MacroStore& macros = host.macros();
  const bool answers = ApplyAllowed(device.monitor.flags());
  auto done = [this](Output out) {
    Finish(std::move(out));
    StartNext();
  };
  if (info.needs_mouse && !answers) {
    done({kExitNoMouse, "", "brevak-ctl: no mouse answers\n"});
    return;
  }
  // The profile a NAME or INDEX names: a name first, then a number from 1.
  auto find_profile = [&](const std::string& what) -> int {
    auto lock = profiles.Lock();
    const auto& list = profiles.list();
    if (int i = IndexOfNameNoCase(list, Utf8ToUtf16(what)); i >= 0) return i;
    if (auto n = Number(what); n && *n >= 1 && size_t(*n) <= list.size()) return int(*n - 1);
    return -1;
  };
  auto find_macro = [&](const std::string& name) { return IndexOfNameNoCase(macros.list(), Utf8ToUtf16(name)); };
  // An edit of the working record, shown and written; the command ends with the write.
  auto write = [&](bool list_changed) {
    host.Changed(list_changed);
    if (!ApplyAllowed(device.monitor.flags())) {
      // Store-only: saved now, written by the next apply that reaches the mouse.
      Output out{kExitDone, c.json ? "{\"written\":false" + job.written_json + ",\"pauses_ms\":0}\n" : "", ""};
      SaveProfiles(profiles, out);
      done(out);
      return;
    }
    job.ticket = device.worker.Request();
    job.step = Job::Step::kWaitApply;
    job.since = GetTickCount();
    Tick();
  };

  switch (c.verb) {
    case Verb::kStatus: {
      const ConnectionState conn = Connection(device.monitor.flags());
      const PowerState power = device.monitor.power();
      std::u16string name;
      int selected = 0, stage = 0, dpi = 0;
      {
        auto lock = profiles.Lock();
        selected = profiles.header().selected_profile;
        if (const ProfileRecord* r = device.working.Locked()) {
          name = FixedToString(r->name);
          stage = r->dpi_stage_index;
          if (stage >= 0 && stage < kDpiStages) dpi = r->dpi_value[stage] * kDpiStep;
        }
      }
      const char* charging = power.charge == PowerState::Charge::kCharging ? "yes"
                             : power.charge == PowerState::Charge::kFull    ? "full"
                             : power.charge == PowerState::Charge::kDischarging ? "no"
                                                                                 : "unknown";
      Output out;
      if (c.json) {
        out.out = "{\"connection\":" + Json(conn.name) + ",\"answering\":" + (conn.answering ? "true" : "false") +
                  ",\"battery\":" + (power.percent < 0 ? "null" : std::to_string(power.percent)) +
                  ",\"charging\":" +
                  (power.charge == PowerState::Charge::kUnknown ? "null"
                   : power.charge == PowerState::Charge::kCharging ? "true"
                                                                   : "false") +
                  ",\"dpi_stage\":" + std::to_string(stage + 1) + ",\"dpi\":" + std::to_string(dpi) +
                  ",\"profile\":" + Json(Utf16ToUtf8(name)) + ",\"profile_index\":" + std::to_string(selected + 1) +
                  "}\n";
      } else {
        out.out = "connection: " + std::string(conn.name) + (conn.name != "none" && !conn.answering ? " (asleep)" : "") +
                  "\nbattery: " + (power.percent < 0 ? "unknown" : std::to_string(power.percent) + "%") +
                  "\ncharging: " + charging + "\ndpi stage: " + std::to_string(stage + 1) + " (" +
                  std::to_string(dpi) + " DPI)\nprofile: " + std::to_string(selected + 1) + " " +
                  Utf16ToUtf8(name) + "\n";
      }
      if (conn.name == "none") out.code = kExitNoMouse;
      done(out);
      return;
    }
    case Verb::kProfiles: {
      Output out;
      auto lock = profiles.Lock();
      const int selected = profiles.header().selected_profile;
      const auto& list = profiles.list();
      out.out = c.json ? "[" : "";
      for (size_t i = 0; i < list.size(); ++i) {
        const std::string name = Utf16ToUtf8(FixedToString(list[i]->name));
        if (c.json) {
          out.out += std::string(i ? "," : "") + "{\"index\":" + std::to_string(i + 1) + ",\"name\":" + Json(name) +
                     ",\"selected\":" + (int(i) == selected ? "true" : "false") + "}";
        } else {
          out.out += (int(i) == selected ? "* " : "  ") + std::to_string(i + 1) + " " + name + "\n";
        }
      }
      if (c.json) out.out += "]\n";
      done(out);
      return;
    }
    case Verb::kMacros: {
      Output out;
      out.out = c.json ? "[" : "";
      const auto& list = macros.list();
      for (size_t i = 0; i < list.size(); ++i) {
        const std::string name = Utf16ToUtf8(FixedToString(list[i]->name));
        if (c.json) {
          out.out += std::string(i ? "," : "") + "{\"index\":" + std::to_string(i + 1) + ",\"name\":" + Json(name) +
                     ",\"steps\":" + std::to_string(list[i]->action_count) + "}";
        } else {
          out.out += std::to_string(i + 1) + " " + name + " (" + std::to_string(list[i]->action_count) + " steps)\n";
        }
      }
      if (c.json) out.out += "]\n";
      done(out);
      return;
    }
    case Verb::kSwitch: {
      const int index = find_profile(c.operands[0]);
      if (index < 0) return done(Refuse("no profile " + c.operands[0]));
      if (device.working.Select(index)) device.worker.RequestFullWrite();
      job.written_json = ",\"profile_index\":" + std::to_string(index + 1);
      write(true);
      return;
    }
    case Verb::kExport: {
      const int index = find_profile(c.operands[0]);
      if (index < 0) return done(Refuse("no profile " + c.operands[0]));
      ProfileRecord record{};
      {
        auto lock = profiles.Lock();
        record = *profiles.list()[size_t(index)];
      }
      if (!ExportProfile(record, c.operands[1])) return done(Refuse("cannot write " + c.operands[1]));
      done({});
      return;
    }
    case Verb::kImport: {
      int index = -1;
      ImportResult result;
      {
        auto lock = profiles.Lock();
        result = ImportProfile(profiles, macros, c.operands[0], &index);
        if (result == ImportResult::kImported) device.working.Select(index);
      }
      if (result == ImportResult::kUnreadable) return done(Refuse("cannot read " + c.operands[0]));
      if (result != ImportResult::kImported) return done(Refuse(c.operands[0] + " is not a profile file"));
      device.worker.RequestFullWrite();
      job.written_json = ",\"profile_index\":" + std::to_string(index + 1);
      write(true);
      return;
    }
    case Verb::kDpi:
    case Verb::kDpiStage: {
      const auto stage = Number(c.operands[0]);
      if (!stage || *stage < 1 || *stage > kDpiStages) return done(Refuse("STAGE is 1.." + std::to_string(kDpiStages)));
      std::optional<long> value;
      if (c.verb == Verb::kDpi) {
        value = Number(c.operands[1]);
        if (!value) return done(Refuse("VALUE is a number of DPI"));
      }
      const int s = int(*stage - 1);
      bool unused = true;
      device.working.Read([&](const ProfileRecord& r) { unused = r.dpi_value[s] == 0; });
      if (unused) return done(Refuse("stage " + std::to_string(s + 1) + " is not in use (its value is 0)"));
      device.working.Edit([&](ProfileRecord& r) {
        if (value) r.dpi_value[s] = DpiStepsOfTyped(*value);
        else r.dpi_stage_index = s;
      });
      write(false);
      return;
    }
    case Verb::kButton: {
      const auto n = Number(c.operands[0]);
      if (!n || *n < 1 || *n > kMenuButtons) return done(Refuse("N is a button 1.." + std::to_string(kMenuButtons)));
      ButtonChoice choice;
      const std::string kind = Lower(c.operands[1]);
      if (kind == "shortcut" || kind == "macro") {
        if (c.operands.size() != 3) return done(Refuse("usage: brevak-ctl " + std::string(info.usage)));
        if (kind == "shortcut") {
          auto keys = ParseShortcut(c.operands[2]);
          if (!keys) return done(Refuse("not a shortcut: " + c.operands[2] + " (see --help)"));
          choice.code = kFunctionShortcut;
          choice.modifiers = keys->first;
          choice.key = keys->second;
        } else {
          choice.code = kFunctionMacro;
          choice.macro_index = find_macro(c.operands[2]);
          if (choice.macro_index < 0) return done(Refuse("no macro " + c.operands[2]));
        }
      } else {
        const ButtonFunction* f = c.operands.size() == 2 ? FunctionByName(c.operands[1]) : nullptr;
        if (!f) return done(Refuse("not a function: " + c.operands[1] + " (see --help)"));
        choice.code = f->code;
      }
      const int button = int(*n - 1);
      ButtonRefusal refusal = ButtonRefusal::kNone;
      device.working.Edit([&](ProfileRecord& r) {
        // Mode and loops of a macro the button already runs are kept, as the menu does.
        if (choice.code == kFunctionMacro && r.button[button].function_code == kFunctionMacro) {
          choice.repeat_mode = r.button[button].macro_repeat_mode;
          choice.loop_count = r.button[button].macro_loop_count;
        }
        refusal = AssignButton(r, button, choice, macros.list());
      });
      switch (refusal) {
        case ButtonRefusal::kNone: break;
        case ButtonRefusal::kLeftClickGuard: return done(Refuse("one of buttons 1..16 must stay a left click"));
        case ButtonRefusal::kMacroTooLong: return done(Refuse("the macro needs more frames than a button has room for"));
        case ButtonRefusal::kNoMacroSlots:
          return done(Refuse("button " + std::to_string(button + 1) + " has no room for a macro"));
        default: return done(Refuse("that function cannot be given to a button"));
      }
      write(false);
      return;
    }
    case Verb::kExportMacro: {
      const int index = find_macro(c.operands[0]);
      if (index < 0) return done(Refuse("no macro " + c.operands[0]));
      if (!ExportMacro(*macros.list()[size_t(index)], c.operands[1])) return done(Refuse("cannot write " + c.operands[1]));
      done({});
      return;
    }
    case Verb::kBind:
    case Verb::kUnbind: {
      const int index = find_profile(c.operands[0]);
      if (index < 0) return done(Refuse("no profile " + c.operands[0]));
      std::u16string name;
      {
        auto lock = profiles.Lock();
        name = FixedToString(profiles.list()[size_t(index)]->name);
      }
      const std::string& cls = c.operands[1];
      BindingStore& bindings = host.bindings();
      Output out;
      if (c.verb == Verb::kBind) {
        std::u16string from;
        switch (bindings.Bind(cls, name, &from)) {
          case BindingStore::BindResult::kInvalid:
            return done(Refuse("CLASS is 1.." + std::to_string(kMaxWindowClassBytes) + " bytes"));
          case BindingStore::BindResult::kMoved:
            out.err = "brevak-ctl: " + cls + " switched to " + Utf16ToUtf8(from) + "; now to " + Utf16ToUtf8(name) + "\n";
            break;
          default: break;
        }
      } else if (!bindings.Unbind(cls, name)) {
        return done(Refuse(cls + " is not bound to " + Utf16ToUtf8(name)));
      }
      host.BindingsChanged();
      if (bindings.save_failing()) {
        return done(Refuse(std::string(kBindingsFileName) + " could not be saved; the change is not kept on disk"));
      }
      if (c.json) {
        out.out = "{\"class\":" + Json(cls) + ",\"profile\":" + Json(Utf16ToUtf8(name)) +
                  ",\"profile_index\":" + std::to_string(index + 1) + ",\"bound\":" +
                  (c.verb == Verb::kBind ? "true" : "false") + "}\n";
      }
      done(out);
      return;
    }
    case Verb::kBindings: {
      Output out;
      auto lock = profiles.Lock();
      const auto& list = profiles.list();
      auto index_of = [&](const std::u16string& name) { return IndexOfNameNoCase(list, name); };
      if (c.json) {
        out.out = "[";
        bool first = true;
        for (const Binding& b : host.bindings().list()) {
          const int i = index_of(b.profile);
          out.out += std::string(first ? "" : ",") + "{\"class\":" + Json(b.window_class) +
                     ",\"profile\":" + Json(Utf16ToUtf8(b.profile)) +
                     ",\"profile_index\":" + (i < 0 ? "null" : std::to_string(i + 1)) + "}";
          first = false;
        }
        out.out += "]\n";
      } else {
        // By profile, in the list's order: "2 Game: steam_app_730, XLogo".
        for (size_t i = 0; i < list.size(); ++i) {
          const std::u16string name = FixedToString(list[i]->name);
          const std::vector<std::string> classes = host.bindings().ClassesOf(name);
          if (classes.empty()) continue;
          out.out += std::to_string(i + 1) + " " + Utf16ToUtf8(name) + ":";
          for (size_t k = 0; k < classes.size(); ++k) out.out += (k ? ", " : " ") + classes[k];
          out.out += "\n";
        }
      }
      done(out);
      return;
    }
    case Verb::kImportMacro: {
      const ImportResult result = ImportMacro(macros, c.operands[0]);
      if (result == ImportResult::kUnreadable) return done(Refuse("cannot read " + c.operands[0]));
      if (result != ImportResult::kImported) return done(Refuse(c.operands[0] + " is not a macro file"));
      // Saved by the import; once more to know that it was.
      if (!macros.Save()) return done(Refuse("the macro library could not be saved; the macro is not kept"));
      done({});
      return;
    }
  }
}

}  // namespace brevak::ctl
