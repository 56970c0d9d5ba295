#include "macro/hook_binding.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/system.h"
#include "platform/text.h"

namespace brevak {
namespace {

bool Empty(const HookFunctionTable& t) {
  return !t.installmousehook && !t.removemousehook && !t.enablemousehook && !t.installhook && !t.removehook &&
         !t.enablehook && !t.mousewheelenable;
}

TEST(HookBinding, MissingLibraryLeavesTheTableEmptyAndSaysWhy) {
  std::string debug;
  SetDebugSink([&](std::string_view text) { debug += text; });
  const HookLibrary lib = LoadHookLibrary(u"/nonexistent/");
  SetDebugSink({});
  EXPECT_EQ(lib.module, nullptr);
  EXPECT_TRUE(Empty(lib.functions));
  EXPECT_EQ(debug, "GetError:" + std::to_string(ERROR_MOD_NOT_FOUND) + "\n");
  EXPECT_TRUE(Empty(BindHook(nullptr)));
}

TEST(HookBinding, BindsEachEntryPointByItsName) {
  const HookLibrary lib = LoadHookLibrary(ProgramFolder());
  ASSERT_NE(lib.module, nullptr) << LastLoadError();
  const HookFunctionTable& t = lib.functions;
  const auto at = [&](const char* name) { return GetProcAddress(lib.module, name); };
  EXPECT_EQ(reinterpret_cast<FARPROC>(t.installmousehook), at("installmousehook"));
  EXPECT_EQ(reinterpret_cast<FARPROC>(t.removemousehook), at("removemousehook"));
  EXPECT_EQ(reinterpret_cast<FARPROC>(t.enablemousehook), at("enablemousehook"));
  EXPECT_EQ(reinterpret_cast<FARPROC>(t.installhook), at("installhook"));
  EXPECT_EQ(reinterpret_cast<FARPROC>(t.removehook), at("removehook"));
  EXPECT_EQ(reinterpret_cast<FARPROC>(t.enablehook), at("enablehook"));
  EXPECT_EQ(reinterpret_cast<FARPROC>(t.mousewheelenable), at("mousewheelenable"));
  EXPECT_NE(t.mousewheelenable, nullptr);
  FreeLibrary(lib.module);

  // A library without these entry points binds nothing.
  const HMODULE other = LoadLibraryW(Utf8ToUtf16(BREVAK_OTHER_LIBRARY).c_str());
  ASSERT_NE(other, nullptr) << LastLoadError();
  EXPECT_TRUE(Empty(BindHook(other)));
  FreeLibrary(other);
}

}  // namespace
}  // namespace brevak
