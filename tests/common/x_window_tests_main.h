#pragma once
// The body of main() for window tests on a private X server: test discovery runs without a
// server; a run starts one, points Qt's xcb platform at it and runs the tests.

#include <gtest/gtest.h>

#include <cstdio>

#include "tests/common/private_x_server.h"
#include "tests/common/ui_test_main.h"

namespace brevak::test {

// `what` names the tests in the message when no server can be started.
inline int RunWindowTestsOnPrivateX(int argc, char** argv, const char* resource_dir, const char* what) {
  ::testing::InitGoogleTest(&argc, argv);
  if (::testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();
  PrivateXServer x;
  if (!x.ok()) {
    std::fprintf(stderr, "no X server for the %s: %s\n", what, x.error().c_str());
    return 1;
  }
  return RunWindowTests(resource_dir, "xcb");
}

}  // namespace brevak::test
