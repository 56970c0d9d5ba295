// What the Hook library reports, and when it stays silent. Silence is checked against a
// reported marker injected after the input that must not arrive.

#include "tests/hook/hook_test_util.h"

#include <X11/XF86keysym.h>

namespace brevak::test {
namespace {

class HookCaptureTest : public HookFixture {};

TEST_F(HookCaptureTest, KeyTransitionsArriveAsVirtualKeys) {
  Install(window_);
  const struct {
    KeySym keysym;
    WPARAM vk;
  } keys[] = {{XK_a, 'A'},          {XK_7, '7'},          {XK_Shift_L, 0xA0}, {XK_F5, 0x74},
              {XK_Return, 0x0D},    {XK_Control_R, 0xA3}, {XK_Super_L, 0x5B}, {XK_Prior, 0x21},
              {XK_KP_Home, 0x67},   {XK_semicolon, 0xBA}, {XK_Menu, 0x5D},    {XK_Escape, 0x1B}};
  Inputs expected;
  for (const auto& key : keys) {
    ASSERT_TRUE(input_.Tap(key.keysym)) << "no key for keysym 0x" << std::hex << key.keysym;
    expected.insert(expected.end(), {{key.vk, 0}, {key.vk, 1}});
  }
  // A key without a virtual-key code is left out.
  ASSERT_TRUE(input_.Tap(XF86XK_AudioMute));
  input_.Click(1);
  expected.insert(expected.end(), {kLeftDown, kLeftUp});
  window_.ExpectNext(expected);
}

// Keys are reported as the server's layout has them, in the group in effect; a switch of group
// or a new keymap counts from the next key on. X key codes: 24 the US Q position, 10 the "1"
// key, 47 the US ";" position, 58 the US M position, 29 the US Y position.
TEST_F(HookCaptureTest, KeysFollowTheServersLayoutAndGroup) {
  ASSERT_TRUE(SetServerLayout("us,fr"));
  Install(window_);
  const auto tap = [&](std::initializer_list<unsigned> codes, std::initializer_list<WPARAM> vks) {
    for (unsigned code : codes) input_.TapKeyCode(code);
    Inputs expected;
    for (WPARAM vk : vks) expected.insert(expected.end(), {{vk, 0}, {vk, 1}});
    window_.ExpectNext(expected);
  };
  tap({24, 10, 47, 58}, {'Q', '1', 0xBA, 'M'});
  // French: A where the US Q is, "&1" is still 1, the US ";" key prints m, and the US M key
  // (",") takes the code m left free.
  input_.LockGroup(1);
  tap({24, 10, 47, 58}, {'A', '1', 'M', 0xBA});
  ASSERT_TRUE(SetServerLayout("de"));
  tap({29, 47}, {'Z', 0xBA});
}

TEST_F(HookCaptureTest, MouseButtonsArriveAsMouseMessages) {
  Install(window_);
  for (unsigned button : {1, 3, 2, 8, 9}) input_.Click(button);
  window_.ExpectNext({kLeftDown, kLeftUp, {WM_RBUTTONDOWN, 0}, {WM_RBUTTONUP, 0}, {WM_MBUTTONDOWN, 0},
                      {WM_MBUTTONUP, 0}, {WM_XBUTTONDOWN, 1}, {WM_XBUTTONUP, 1}, {WM_XBUTTONDOWN, 2},
                      {WM_XBUTTONUP, 2}});
}

TEST_F(HookCaptureTest, KeysAndButtonsOnlyWhileEnabled) {
  ASSERT_TRUE(hook_.installhook(window_.hwnd));  // keys stay off until enablehook(1)
  input_.Tap(XK_a);
  input_.Click(1);
  window_.ExpectNext({kLeftDown, kLeftUp});

  hook_.enablehook(1);
  hook_.enablemousehook(0);
  input_.Click(3);
  input_.Tap(XK_a);
  window_.ExpectNext({kKeyADown, kKeyAUp});

  hook_.enablemousehook(1);
  hook_.removemousehook();
  input_.Click(1);
  input_.Tap(XK_a);
  window_.ExpectNext({kKeyADown, kKeyAUp});

  hook_.enablehook(0);
  hook_.enablemousehook(1);
  input_.Tap(XK_a);
  input_.Click(1);
  window_.ExpectNext({kLeftDown, kLeftUp});
}

TEST_F(HookCaptureTest, WheelOnlyWhileEnabled) {
  Install(window_);
  for (unsigned button : {4, 5, 6, 7}) input_.Click(button);
  window_.ExpectNext({{WM_MOUSEWHEEL, 120}, {WM_MOUSEWHEEL, -120}, {WM_MOUSEHWHEEL, -120}, {WM_MOUSEHWHEEL, 120}});

  // Off stays off across a new installation, as recording relies on.
  hook_.mousewheelenable(0);
  input_.Click(4);
  hook_.removehook();
  Install(window_);
  input_.Click(5);
  input_.Click(1);
  window_.ExpectNext({kLeftDown, kLeftUp});

  // The wheel is mouse input: turning mouse reporting off silences it too.
  hook_.mousewheelenable(1);
  hook_.enablemousehook(0);
  input_.Click(4);
  input_.Tap(XK_a);
  window_.ExpectNext({kKeyADown, kKeyAUp});
}

TEST_F(HookCaptureTest, SecondInstallMovesTheTarget) {
  Install(window_);
  RecordingWindow other;
  Install(other);
  input_.Tap(XK_a);
  other.ExpectNext({kKeyADown, kKeyAUp});
  EXPECT_TRUE(window_.got.empty());
}

TEST_F(HookCaptureTest, NothingArrivesAfterRemovehook) {
  Install(window_);
  input_.Tap(XK_a);
  window_.ExpectNext({kKeyADown, kKeyAUp});
  EXPECT_TRUE(hook_.removehook());
  EXPECT_FALSE(hook_.enablehook(1));
  input_.Tap(XK_a);
  input_.Click(1);
  input_.Click(4);
  PumpUntil([] { return false; }, std::chrono::milliseconds(300));
  window_.ExpectNext({});
}

// No X server, whether DISPLAY is unset or names a display nobody serves: every call says
// FALSE and nothing is posted.
TEST(HookWithoutServer, CallsFailQuietly) {
  const HookLibrary lib = LoadHookLibrary(ProgramFolder());
  ASSERT_NE(lib.functions.mousewheelenable, nullptr) << LastLoadError();
  const HookFunctionTable& hook = lib.functions;
  RecordingWindow window;
  for (const char* display : {static_cast<const char*>(nullptr), ":65000"}) {
    display ? setenv("DISPLAY", display, 1) : unsetenv("DISPLAY");
    EXPECT_FALSE(hook.installhook(window.hwnd)) << (display ? display : "unset");
    EXPECT_FALSE(hook.enablehook(1) || hook.enablemousehook(1) || hook.mousewheelenable(1) ||
                 hook.installmousehook() || hook.removemousehook() || hook.removehook());
  }
  EXPECT_FALSE(hook.installhook(nullptr));
  PumpUntil([] { return false; }, std::chrono::milliseconds(100));
  EXPECT_TRUE(window.got.empty());
  FreeLibrary(lib.module);
}

}  // namespace
}  // namespace brevak::test
