#include "hook/input_map.h"

#include <X11/keysym.h>

#include <algorithm>
#include <array>
#include <utility>

namespace hook {
namespace {

// Keys outside the contiguous ranges handled in VirtualKeyOfKeysym, sorted by keysym.
constexpr auto kKeys = [] {
  auto keys = std::to_array<std::pair<unsigned long, UINT>>({
      {XK_space, 0x20},        {XK_apostrophe, 0xDE},  {XK_comma, 0xBC},         {XK_minus, 0xBD},
      {XK_period, 0xBE},       {XK_slash, 0xBF},       {XK_semicolon, 0xBA},     {XK_equal, 0xBB},
      {XK_bracketleft, 0xDB},  {XK_backslash, 0xDC},   {XK_bracketright, 0xDD},  {XK_grave, 0xC0},
      {XK_ISO_Level3_Shift, 0xA5},  // AltGr, where the layout puts it on right Alt
      {XK_ISO_Left_Tab, 0x09}, {XK_BackSpace, 0x08},   {XK_Tab, 0x09},           {XK_Return, 0x0D},
      {XK_Pause, 0x13},        {XK_Scroll_Lock, 0x91}, {XK_Sys_Req, 0x2C},       {XK_Escape, 0x1B},
      {XK_Home, 0x24},         {XK_Left, 0x25},        {XK_Up, 0x26},            {XK_Right, 0x27},
      {XK_Down, 0x28},         {XK_Prior, 0x21},       {XK_Next, 0x22},          {XK_End, 0x23},
      {XK_Print, 0x2C},        {XK_Insert, 0x2D},      {XK_Menu, 0x5D},          {XK_Num_Lock, 0x90},
      // The keypad by position, whatever NumLock says: level 0 is the navigation keysym.
      {XK_KP_Enter, 0x0D},     {XK_KP_Home, 0x67},     {XK_KP_Left, 0x64},       {XK_KP_Up, 0x68},
      {XK_KP_Right, 0x66},     {XK_KP_Down, 0x62},     {XK_KP_Prior, 0x69},      {XK_KP_Next, 0x63},
      {XK_KP_End, 0x61},       {XK_KP_Begin, 0x65},    {XK_KP_Insert, 0x60},     {XK_KP_Delete, 0x6E},
      {XK_KP_Multiply, 0x6A},  {XK_KP_Add, 0x6B},      {XK_KP_Separator, 0x6C},  {XK_KP_Subtract, 0x6D},
      {XK_KP_Decimal, 0x6E},   {XK_KP_Divide, 0x6F},   {XK_KP_0, 0x60},          {XK_KP_1, 0x61},
      {XK_KP_2, 0x62},         {XK_KP_3, 0x63},        {XK_KP_4, 0x64},          {XK_KP_5, 0x65},
      {XK_KP_6, 0x66},         {XK_KP_7, 0x67},        {XK_KP_8, 0x68},          {XK_KP_9, 0x69},
      {XK_Shift_L, 0xA0},      {XK_Shift_R, 0xA1},     {XK_Control_L, 0xA2},     {XK_Control_R, 0xA3},
      {XK_Caps_Lock, 0x14},    {XK_Alt_L, 0xA4},       {XK_Alt_R, 0xA5},         {XK_Super_L, 0x5B},
      {XK_Super_R, 0x5C},      {XK_Delete, 0x2E},
  });
  std::sort(keys.begin(), keys.end());
  return keys;
}();

}  // namespace

UINT VirtualKeyOfKeysym(unsigned long keysym) {
  if (keysym >= XK_a && keysym <= XK_z) return UINT('A' + (keysym - XK_a));
  if (keysym >= XK_A && keysym <= XK_Z) return UINT('A' + (keysym - XK_A));
  if (keysym >= XK_0 && keysym <= XK_9) return UINT('0' + (keysym - XK_0));
  if (keysym >= XK_F1 && keysym <= XK_F24) return UINT(0x70 + (keysym - XK_F1));
  const auto it = std::lower_bound(kKeys.begin(), kKeys.end(), std::pair<unsigned long, UINT>{keysym, 0});
  return it != kKeys.end() && it->first == keysym ? it->second : 0;
}

std::optional<HookInput> KeyInput(unsigned long keysym, bool press) {
  const UINT vk = VirtualKeyOfKeysym(keysym);
  if (vk == 0) return std::nullopt;
  return HookInput{InputKind::kKey, vk, press ? 0 : 1};
}

std::optional<HookInput> ButtonInput(int button, bool press) {
  auto mouse = [](UINT msg, LPARAM lParam = 0) { return HookInput{InputKind::kButton, msg, lParam}; };
  auto wheel = [](UINT msg, LPARAM delta) { return HookInput{InputKind::kWheel, msg, delta}; };
  switch (button) {
    case 1: return mouse(press ? WM_LBUTTONDOWN : WM_LBUTTONUP);
    case 2: return mouse(press ? WM_MBUTTONDOWN : WM_MBUTTONUP);
    case 3: return mouse(press ? WM_RBUTTONDOWN : WM_RBUTTONUP);
    case 8: return mouse(press ? WM_XBUTTONDOWN : WM_XBUTTONUP, XBUTTON1);
    case 9: return mouse(press ? WM_XBUTTONDOWN : WM_XBUTTONUP, XBUTTON2);
  }
  // A notch is one X press (and its immediate release); positive is up and right, as on Windows.
  if (!press) return std::nullopt;
  switch (button) {
    case 4: return wheel(WM_MOUSEWHEEL, WHEEL_DELTA);
    case 5: return wheel(WM_MOUSEWHEEL, -WHEEL_DELTA);
    case 6: return wheel(WM_MOUSEHWHEEL, -WHEEL_DELTA);
    case 7: return wheel(WM_MOUSEHWHEEL, WHEEL_DELTA);
  }
  return std::nullopt;
}

}  // namespace hook
