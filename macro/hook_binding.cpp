#include "macro/hook_binding.h"

#include <string>

#include "platform/format.h"

namespace brevak {
namespace {

template <typename Fn>
void Bind(HMODULE module, const char* name, Fn& fn) {
  fn = reinterpret_cast<Fn>(GetProcAddress(module, name));
}

}  // namespace

HookFunctionTable BindHook(HMODULE module) {
  HookFunctionTable t;
  if (!module) return t;
  Bind(module, "installmousehook", t.installmousehook);
  Bind(module, "removemousehook", t.removemousehook);
  Bind(module, "enablemousehook", t.enablemousehook);
  Bind(module, "installhook", t.installhook);
  Bind(module, "removehook", t.removehook);
  Bind(module, "enablehook", t.enablehook);
  Bind(module, "mousewheelenable", t.mousewheelenable);
  return t;
}

HookLibrary LoadHookLibrary(std::u16string_view folder) {
  const std::u16string path = std::u16string(folder) + kHookLibraryFile;
  HMODULE module = LoadLibraryW(path.c_str());
  if (!module) {
    OutputDebugStringW(Format(u"GetError:%d\n", GetLastError()).c_str());
    return {};
  }
  return {module, BindHook(module)};
}

}  // namespace brevak
