#pragma once
// Process services beyond the Win32 calls in winapi.h.

#include <functional>
#include <string>
#include <string_view>

namespace brevak {

// Where debug output goes instead of stderr (tests capture it); an empty function restores
// the default (stderr when BREVAK_DEBUG is set). Receives UTF-8. Returns once no thread is still
// writing to the sink it replaced. A sink must not log or set the sink itself.
void SetDebugSink(std::function<void(std::string_view)> sink);

// The program folder, ending in '/': BREVAK_PROGRAM_DIR when set (tests run from another
// folder than the program's), else the folder of the running executable. Empty when neither
// can be found.
std::u16string ProgramFolder();

// Why the last LoadLibraryW or GetProcAddress of this thread failed (dlerror's text).
std::string LastLoadError();

// A process-wide table of named objects, for things that must be shared by libraries loaded
// separately into one process (a test's in-process simulated mouse reaches every zentrix build
// this way). Null removes the entry; GetProcessObject returns null when nothing is set.
void SetProcessObject(std::string_view name, void* object);
void* GetProcessObject(std::string_view name);

}  // namespace brevak
