#include "app/autostart.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <system_error>

#include "platform/system.h"
#include "platform/text.h"

namespace brevak {

namespace fs = std::filesystem;

namespace {

// From the build: the program's file name, the program folder under the install prefix, and
// the launcher on PATH that leads to it.
constexpr char kProgramFile[] = BREVAK_PROGRAM_FILE;
constexpr char kInstallDir[] = BREVAK_INSTALL_DIR;
constexpr char kLauncher[] = BREVAK_LAUNCHER;
constexpr char kEntryFile[] = "brevak.desktop";

// One argument of an Exec line: always quoted, with the characters the desktop entry format
// reserves inside quotes escaped, and '%' doubled so it is not read as a field code.
std::string QuoteExecArgument(const std::string& arg) {
  std::string out = "\"";
  for (char c : arg) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') out += '\\';
    if (c == '%') out += '%';
    out += c;
  }
  return out + "\"";
}

// A string value of the desktop entry format: backslashes and control characters escaped.
std::string EscapeValue(const std::string& value) {
  std::string out;
  for (char c : value) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      default: out += c;
    }
  }
  return out;
}

std::string HomeFolder() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return {};
}

void SetError(std::string* error, std::string text) {
  if (error) *error = std::move(text);
}

}  // namespace

fs::path AutostartFolder() {
  // A relative XDG_CONFIG_HOME is invalid and is ignored, as the base directory rules say.
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config == '/') {
    return fs::path(config) / "autostart";
  }
  const std::string home = HomeFolder();
  if (home.empty()) return {};
  return fs::path(home) / ".config" / "autostart";
}

fs::path AutostartEntryPath() {
  fs::path folder = AutostartFolder();
  return folder.empty() ? folder : folder / kEntryFile;
}

fs::path AutostartProgram() {
  const std::string folder = Utf16ToUtf8(ProgramFolder());
  if (folder.empty()) return {};
  std::error_code ec;
  const fs::path program = (fs::absolute(folder, ec) / kProgramFile).lexically_normal();
  if (ec) return {};
  // Installed: the program folder is <prefix>/lib/brevak and <prefix>/bin/brevak leads to it.
  fs::path prefix = program.parent_path();
  const fs::path install_dir(kInstallDir);
  for (auto it = install_dir.begin(); it != install_dir.end(); ++it) prefix = prefix.parent_path();
  if ((prefix / install_dir).lexically_normal() == program.parent_path()) {
    const fs::path launcher = prefix / kLauncher;
    if (fs::equivalent(launcher, program, ec) && !ec) return launcher;
  }
  return program;
}

std::string AutostartEntryText(const fs::path& program) {
  std::ostringstream out;
  out << "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=BREVAK APEX\n"
         "Comment=Starts BREVAK with the desktop, in the tray\n"
      << "Exec=" << EscapeValue(QuoteExecArgument(program.string())) << ' ' << kAutostartFlag << '\n'
      << "TryExec=" << EscapeValue(program.string()) << '\n'
      << "Icon=brevak\n"
         "Terminal=false\n"
         "X-GNOME-Autostart-enabled=true\n";
  return out.str();
}

bool AutostartEnabled() {
  const fs::path entry = AutostartEntryPath();
  if (entry.empty()) return false;
  std::ifstream in(entry);
  if (!in) return false;
  for (std::string line; std::getline(in, line);) {
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) line.pop_back();
    if (line == "Hidden=true") return false;
  }
  return true;
}

bool SetAutostart(bool on, std::string* error) {
  const fs::path entry = AutostartEntryPath();
  if (entry.empty()) {
    SetError(error, "no home folder to put the autostart entry in");
    return false;
  }
  std::error_code ec;
  if (!on) {
    fs::remove(entry, ec);
    if (ec) SetError(error, "could not remove " + entry.string() + ": " + ec.message());
    return !ec;
  }
  const fs::path program = AutostartProgram();
  if (program.empty() || !fs::exists(program, ec)) {
    SetError(error, "the program to start was not found" + (program.empty() ? "" : ": " + program.string()));
    return false;
  }
  fs::create_directories(entry.parent_path(), ec);
  if (ec) {
    SetError(error, "could not make " + entry.parent_path().string() + ": " + ec.message());
    return false;
  }
  // Written beside and renamed, so a desktop never reads half an entry.
  const fs::path part = entry.parent_path() / ("." + entry.filename().string() + ".part");
  {
    std::ofstream out(part, std::ios::trunc);
    out << AutostartEntryText(program);
    out.close();
    if (!out) {
      fs::remove(part, ec);
      SetError(error, "could not write " + part.string());
      return false;
    }
  }
  fs::rename(part, entry, ec);
  if (ec) {
    SetError(error, "could not write " + entry.string() + ": " + ec.message());
    fs::remove(part, ec);
    return false;
  }
  return true;
}

}  // namespace brevak
