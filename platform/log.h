#pragma once
// The one debug output channel of the process (program, zentrix builds, Hook): each call is one
// whole write, to the sink a test set (SetDebugSink, platform/system.h), else to stderr when the
// environment variable BREVAK_DEBUG is set (non-empty), else nowhere. OutputDebugStringA/W write
// here too.

namespace brevak {

// A trace line whose text is fixed (it is read as it stands): written exactly as formatted,
// its line ending, if any, included; nothing is added.
void LogTrace(const char* format, ...) __attribute__((format(printf, 1, 2)));

// One of our own diagnostics: "<component>: <text>\n", e.g. LogNote("ble", "BlueZ left the bus").
void LogNote(const char* component, const char* format, ...) __attribute__((format(printf, 2, 3)));

}  // namespace brevak
