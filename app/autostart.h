#pragma once
// "Start with the desktop": an XDG autostart entry in $XDG_CONFIG_HOME/autostart that starts the
// program put away (in the tray where there is one, minimised otherwise). Plain functions without
// Qt, shared by the window's check item, the tray menu and brevak-ctl.

#include <filesystem>
#include <string>

namespace brevak {

// The program's command-line flag the entry starts it with.
inline constexpr char kAutostartFlag[] = "--autostart";
// How long a start from the entry waits for a tray that appears late at login.
inline constexpr int kAutostartTrayWaitMs = 10'000;

// $XDG_CONFIG_HOME/autostart (~/.config/autostart when it is unset or not absolute); empty when
// there is no home to find.
std::filesystem::path AutostartFolder();
// The entry's file in AutostartFolder.
std::filesystem::path AutostartEntryPath();

// The program the entry starts: the installed launcher (<prefix>/bin/brevak) when the program
// folder is the installed one it leads to, otherwise the program in the running program folder,
// as an absolute path. Empty when the program folder is unknown.
std::filesystem::path AutostartProgram();

// The entry's text for `program`.
std::string AutostartEntryText(const std::filesystem::path& program);

// Whether the entry is there and not switched off (Hidden=true).
bool AutostartEnabled();

// Writes (on) or removes (off) the entry. False with the reason in `error` (may be null) when
// the folder or the file could not be written or removed.
bool SetAutostart(bool on, std::string* error);

}  // namespace brevak
