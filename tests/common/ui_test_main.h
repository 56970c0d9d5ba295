#pragma once
// The body of main() for tests of windows: the Qt application, the resource folder with its
// style sheet (and language file), the tests, and the application's end.

#include <gtest/gtest.h>

#include <cstdlib>

#include "ui/paint_manager.h"
#include "ui/resource_manager.h"

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

}  // namespace brevak::test
