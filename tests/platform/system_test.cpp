// Dynamic loading, debug output and the program folder.

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/log.h"
#include "platform/loop.h"
#include "platform/system.h"
#include "platform/text.h"
#include "platform/winapi.h"

namespace brevak {
namespace {

using PostFn = int (*)(HWND, UINT, int);
using IdFn = DWORD (*)();

TEST(Loading, LibraryLoadedAtRunTimePostsIntoTheProgramsQueue) {
  std::u16string path = Utf8ToUtf16(BREVAK_POSTER_LIBRARY);
  HMODULE lib = LoadLibraryW(path.c_str());
  ASSERT_NE(lib, nullptr) << LastLoadError();
  auto post = reinterpret_cast<PostFn>(GetProcAddress(lib, "PostFromLibraryThread"));
  auto id = reinterpret_cast<IdFn>(GetProcAddress(lib, "ThreadIdSeenByLibrary"));
  ASSERT_NE(post, nullptr);
  ASSERT_NE(id, nullptr);
  // One registry: the library sees this thread under the same id.
  EXPECT_EQ(id(), GetCurrentThreadId());
  // Loaded locally: its exports do not join the global namespace.
  EXPECT_EQ(dlsym(RTLD_DEFAULT, "PostFromLibraryThread"), nullptr);

  std::vector<WPARAM> got;
  HWND hwnd = CreateMessageWindow([&](HWND, UINT m, WPARAM w, LPARAM) -> LRESULT {
    if (m == 1559) got.push_back(w);
    return 0;
  });
  EXPECT_EQ(post(hwnd, 1559, 50), 50);
  ProcessPendingMessages();
  ASSERT_EQ(got.size(), 50u);
  for (size_t i = 0; i < got.size(); ++i) EXPECT_EQ(got[i], i);
  DestroyWindow(hwnd);

  EXPECT_EQ(GetProcAddress(lib, "NoSuchExport"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
  EXPECT_TRUE(FreeLibrary(lib));
  EXPECT_FALSE(FreeLibrary(lib));  // already released: refused, not passed to dlclose
  EXPECT_EQ(GetProcAddress(lib, "PostFromLibraryThread"), nullptr);
}

TEST(Loading, MissingLibraryAndBadArgumentsFail) {
  EXPECT_EQ(LoadLibraryW(u"/nonexistent/Hook.so"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
  EXPECT_FALSE(LastLoadError().empty());
  EXPECT_EQ(LoadLibraryW(nullptr), nullptr);
  EXPECT_EQ(LoadLibraryW(u""), nullptr);
  EXPECT_EQ(GetProcAddress(nullptr, "x"), nullptr);
  EXPECT_EQ(GetProcAddress(reinterpret_cast<HMODULE>(uintptr_t(0x1000)), "x"), nullptr);
  EXPECT_FALSE(FreeLibrary(reinterpret_cast<HMODULE>(uintptr_t(0x1000))));
}

TEST(DebugOutput, BothFormsReachTheSinkAsUtf8) {
  std::string seen;
  SetDebugSink([&](std::string_view s) { seen += s; });
  OutputDebugStringA("DeviceMsg = 1554\r\n");
  OutputDebugStringW(u"Gr\u00FC\u00DFe\n");
  OutputDebugStringA(nullptr);
  OutputDebugStringW(nullptr);
  SetDebugSink(nullptr);
  OutputDebugStringA("after\n");  // back to stderr or nothing
  EXPECT_EQ(seen, "DeviceMsg = 1554\r\nGr\xC3\xBC\xC3\x9F" "e\n");
}

// Each call reaches the sink as one write: a fixed trace exactly as formatted, our own
// diagnostics with their component and a line end, neither cut short.
TEST(DebugOutput, TracesAsFormattedNotesWithTheirComponent) {
  const std::string long_text(600, 'x');
  struct Case {
    std::function<void()> log;
    std::string want;
  } cases[] = {
      {[] { LogTrace("HR "); }, "HR "},
      {[] { LogTrace("Wireless Send = %d", 0); }, "Wireless Send = 0"},
      {[] { LogTrace("DeviceMsg = %d\r\n", 1554); }, "DeviceMsg = 1554\r\n"},
      {[] { LogTrace("%s", "100% sure\n"); }, "100% sure\n"},
      {[] { LogNote("ble", "BlueZ left the bus"); }, "ble: BlueZ left the bus\n"},
      {[&] { LogNote("zentrix", "%s arrived", long_text.c_str()); }, "zentrix: " + long_text + " arrived\n"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> writes;
    SetDebugSink([&](std::string_view s) { writes.emplace_back(s); });
    c.log();
    SetDebugSink(nullptr);
    EXPECT_EQ(writes, std::vector<std::string>{c.want});
  }
}

TEST(ProgramFolder, EnvironmentWinsOverTheExecutablesFolder) {
  const char* saved = std::getenv("BREVAK_PROGRAM_DIR");
  std::string keep = saved ? saved : "";
  setenv("BREVAK_PROGRAM_DIR", "/opt/brevak", 1);
  EXPECT_EQ(ProgramFolder(), u"/opt/brevak/");
  unsetenv("BREVAK_PROGRAM_DIR");
  std::string exeDir = std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
  EXPECT_EQ(ProgramFolder(), Utf8ToUtf16(exeDir + "/"));
  if (saved) setenv("BREVAK_PROGRAM_DIR", keep.c_str(), 1);
}

}  // namespace
}  // namespace brevak
