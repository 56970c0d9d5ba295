#pragma once
// The body of main() for tests of windows: the Qt application, the resource folder with its
// style sheet (and language file), the tests, and the application's end.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "tests/common/private_x_server.h"

#include "ui/paint_manager.h"
#include "ui/resource_manager.h"

// Qt's own threads (its font and image pools) hand memory between threads with their own
// futex locks, which ThreadSanitizer cannot see in uninstrumented libraries. Ignoring what
// those libraries do in the allocator and other intercepted calls keeps our own code fully
// checked. Include this header from one file per test program.
extern "C" const char* __tsan_default_suppressions() {
  return "called_from_lib:libQt6Core.so.6\n"
         "called_from_lib:libQt6Gui.so.6\n"
         "called_from_lib:libQt6Widgets.so.6\n"
         "called_from_lib:libQt6Network.so.6\n"
         "called_from_lib:libfontconfig.so.1\n"
         "called_from_lib:libglib-2.0.so.0\n";
}

namespace brevak::test {

// `platform` is Qt's platform plugin ("offscreen", or "xcb" on a test's own X server).
inline int RunWindowTests(const char* resource_dir, const char* platform, bool load_language = true) {
  setenv("QT_QPA_PLATFORM", platform, 1);
  CPaintManagerUI::SetInstance();
  CPaintManagerUI::SetResourcePath(resource_dir);
  CResourceManager::GetInstance()->LoadResource("main.xml");
  if (load_language) CResourceManager::GetInstance()->LoadLanguage("lan.xml");
  int rc = RUN_ALL_TESTS();
  CPaintManagerUI::Term();
  return rc;
}

// The same on an X server of the test's own (1024 x 768, no window manager). Test discovery
// needs no server.
inline int RunWindowTestsOnPrivateX(const char* resource_dir, bool load_language = true) {
  if (::testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();
  PrivateXServer x;
  if (!x.ok()) {
    std::fprintf(stderr, "no X server for the test: %s\n", x.error().c_str());
    return 1;
  }
  return RunWindowTests(resource_dir, "xcb", load_language);
}

}  // namespace brevak::test
