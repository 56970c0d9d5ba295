#pragma once
// The Hook library as the program binds it: "Hook.so" from the program folder, its seven entry
// points looked up by name. A missing library or entry point leaves a null pointer, and every
// call through the table is skipped then.

#include <string_view>

#include "hook/hook.h"
#include "platform/winapi.h"

namespace brevak {

// In binding order.
struct HookFunctionTable {
  hook::NoArgFn installmousehook = nullptr;
  hook::NoArgFn removemousehook = nullptr;
  hook::FlagFn enablemousehook = nullptr;
  hook::WindowFn installhook = nullptr;
  hook::NoArgFn removehook = nullptr;
  hook::FlagFn enablehook = nullptr;
  hook::FlagFn mousewheelenable = nullptr;
};

inline constexpr char16_t kHookLibraryFile[] = u"Hook.so";

// The entry points of a loaded library; all null for a null module.
HookFunctionTable BindHook(HMODULE module);

struct HookLibrary {
  HMODULE module = nullptr;
  HookFunctionTable functions;
};

// Loads kHookLibraryFile from `folder` (ending in '/') and binds it. When it cannot be loaded,
// writes "GetError:<code>" to the debug output and returns an empty library.
HookLibrary LoadHookLibrary(std::u16string_view folder);

}  // namespace brevak
