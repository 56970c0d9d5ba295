#include "macro/key_tables.h"

#include <algorithm>
#include <span>

#include "model/macro_record.h"
#include "platform/format.h"
#include "platform/keyboard/keyboard_layout.h"
#include "platform/text.h"

namespace brevak {

// clang-format off
constexpr std::array<KeyCodeRow, kKeyCodeRows> KeyCodeTable = {{
    // Letters A..Z
    {0x41, 0x04, 0x1E}, {0x42, 0x05, 0x30}, {0x43, 0x06, 0x2E}, {0x44, 0x07, 0x20}, {0x45, 0x08, 0x12},
    {0x46, 0x09, 0x21}, {0x47, 0x0A, 0x22}, {0x48, 0x0B, 0x23}, {0x49, 0x0C, 0x17}, {0x4A, 0x0D, 0x24},
    {0x4B, 0x0E, 0x25}, {0x4C, 0x0F, 0x26}, {0x4D, 0x10, 0x32}, {0x4E, 0x11, 0x31}, {0x4F, 0x12, 0x18},
    {0x50, 0x13, 0x19}, {0x51, 0x14, 0x10}, {0x52, 0x15, 0x13}, {0x53, 0x16, 0x1F}, {0x54, 0x17, 0x14},
    {0x55, 0x18, 0x16}, {0x56, 0x19, 0x2F}, {0x57, 0x1A, 0x11}, {0x58, 0x1B, 0x2D}, {0x59, 0x1C, 0x15},
    {0x5A, 0x1D, 0x2C},
    // Digits 1..9, 0
    {0x31, 0x1E, 0x02}, {0x32, 0x1F, 0x03}, {0x33, 0x20, 0x04}, {0x34, 0x21, 0x05}, {0x35, 0x22, 0x06},
    {0x36, 0x23, 0x07}, {0x37, 0x24, 0x08}, {0x38, 0x25, 0x09}, {0x39, 0x26, 0x0A}, {0x30, 0x27, 0x0B},
    // Enter, Escape, Backspace, Tab, Space
    {0x0D, 0x28, 0x1C}, {0x1B, 0x29, 0x01}, {0x08, 0x2A, 0x0E}, {0x09, 0x2B, 0x0F}, {0x20, 0x2C, 0x39},
    // Punctuation (usages 0x32 and 0x64 have no row)
    {0xBD, 0x2D, 0x0C}, {0xBB, 0x2E, 0x0D}, {0xDB, 0x2F, 0x1A}, {0xDD, 0x30, 0x1B}, {0xDC, 0x31, 0x2B},
    {0xBA, 0x33, 0x27}, {0xDE, 0x34, 0x28}, {0xC0, 0x35, 0x29}, {0xBC, 0x36, 0x33}, {0xBE, 0x37, 0x34},
    {0xBF, 0x38, 0x35}, {0xDF, 0x38, 0x35},
    // Caps Lock
    {0x14, 0x39, 0x3A},
    // F1..F12
    {0x70, 0x3A, 0x3B}, {0x71, 0x3B, 0x3C}, {0x72, 0x3C, 0x3D}, {0x73, 0x3D, 0x3E}, {0x74, 0x3E, 0x3F},
    {0x75, 0x3F, 0x40}, {0x76, 0x40, 0x41}, {0x77, 0x41, 0x42}, {0x78, 0x42, 0x43}, {0x79, 0x43, 0x44},
    {0x7A, 0x44, 0x57}, {0x7B, 0x45, 0x58},
    // Navigation and keypad, without scan code
    {0x2C, 0x46, 0}, {0x91, 0x47, 0}, {0x13, 0x48, 0}, {0x2D, 0x49, 0}, {0x24, 0x4A, 0}, {0x21, 0x4B, 0},
    {0x2E, 0x4C, 0}, {0x23, 0x4D, 0}, {0x22, 0x4E, 0}, {0x27, 0x4F, 0}, {0x25, 0x50, 0}, {0x28, 0x51, 0},
    {0x26, 0x52, 0}, {0x90, 0x53, 0}, {0x6F, 0x54, 0}, {0x6A, 0x55, 0}, {0x6D, 0x56, 0}, {0x6B, 0x57, 0},
    {0x6C, 0x58, 0}, {0x61, 0x59, 0}, {0x62, 0x5A, 0}, {0x63, 0x5B, 0}, {0x64, 0x5C, 0}, {0x65, 0x5D, 0},
    {0x67, 0x5F, 0}, {0x66, 0x5E, 0}, {0x68, 0x60, 0}, {0x69, 0x61, 0}, {0x60, 0x62, 0}, {0x6E, 0x63, 0},
    {0x5D, 0x65, 0},
    // Modifiers, left then right: Ctrl, Shift, Alt, Windows
    {0xA2, 0xE0, 0}, {0xA0, 0xE1, 0}, {0xA4, 0xE2, 0}, {0x5B, 0xE3, 0}, {0xA3, 0xE4, 0}, {0xA1, 0xE5, 0},
    {0xA5, 0xE6, 0}, {0x5C, 0xE7, 0},
    // Codes that map to themselves
    {0xF0, 0xF0, 0}, {0xF1, 0xF1, 0}, {0xF2, 0xF2, 0}, {0xF3, 0xF3, 0}, {0xF4, 0xF4, 0}, {0xF7, 0xF7, 0},
    {0xF8, 0xF8, 0},
}};
// clang-format on
static_assert([] {
  for (const KeyCodeRow& row : KeyCodeTable) {
    if (row.vk == 0 || row.usage == 0) return false;  // every row written out
  }
  return true;
}());

namespace {

// Usages placed by the layout: the main block and F-keys (the rows with a scan code) ...
constexpr uint32_t kFirstPlacedUsage = 0x04;
constexpr uint32_t kLastPlacedUsage = 0x45;  // F12
// ... of which these are named by what the layout prints (F-keys have fixed names).
constexpr uint32_t kLastPrintedUsage = 0x39;  // Caps Lock

// Language keys of codes and virtual keys with fixed names.
struct KeyName {
  uint32_t code;
  const char16_t* key;
};
// A run of numbered keys: code first + i is Format(format, number + i).
struct KeyNameRun {
  uint32_t first, last;
  const char16_t* format;
  int number;
};

constexpr KeyNameRun kUsageRuns[] = {{58, 69, u"key_F%d", 1}, {89, 97, u"key_Num_%d", 1}};
constexpr KeyName kUsageNames[] = {
    {70, u"key_Print Scr"},  {71, u"key_Scroll Lock"}, {72, u"key_Pause"},     {73, u"key_Insert"},
    {74, u"key_Home"},       {75, u"key_Page Up"},     {76, u"key_Delete"},    {77, u"key_End"},
    {78, u"key_Page Down"},  {79, u"key_Right"},       {80, u"key_Left"},      {81, u"key_Down"},
    {82, u"key_Up"},         {83, u"key_Num Lock"},    {84, u"key_Num_/"},     {85, u"key_Num_*"},
    {86, u"key_Num_-"},      {87, u"key_Num_+"},       {88, u"key_Num_Enter"}, {98, u"key_Num_0"},
    {99, u"key_Num_."},      {100, u"key_\\"},         {101, u"key_APP"},      {102, u""},
    {103, u""},              {104, u""},               {130, u"Sleep"},        {136, u"Kana/Roma"},
    {221, u"`"},             {224, u"key_LCtrl"},      {225, u"key_LShift"},   {226, u"key_LAlt"},
    {227, u"key_LWin"},      {228, u"key_RCtrl"},      {229, u"key_RShift"},   {230, u"key_RAlt"},
    {231, u"key_RWin"},      {kMacroCodeLeft, u"L_Button"}, {kMacroCodeRight, u"R_Button"},
    {kMacroCodeMiddle, u"M_Button"}, {kMacroCodeBackward, u"Backward_Button"},
    {kMacroCodeForward, u"Forward_Button"},
};

constexpr KeyNameRun kVirtualKeyRuns[] = {{96, 105, u"key_Num_%d", 0}, {112, 123, u"key_F%d", 1}};
constexpr KeyName kVirtualKeyNames[] = {
    {8, u"key_BackSpace"},    {9, u"key_Tab"},         {13, u"key_Enter"},        {16, u"key_LShift"},
    {160, u"key_LShift"},     {161, u"key_RShift"},    {17, u"key_LCtrl"},        {162, u"key_LCtrl"},
    {163, u"key_RCtrl"},      {18, u"key_LAlt"},       {164, u"key_LAlt"},        {165, u"key_RAlt"},
    {19, u"key_Pause"},       {20, u"key_Caplk"},      {240, u"key_Caplk"},       {27, u"key_Esc"},
    {32, u"key_Space"},       {33, u"key_Page Up"},    {34, u"key_Page Down"},    {35, u"key_End"},
    {36, u"key_Home"},        {37, u"key_Left"},       {38, u"key_Up"},           {39, u"key_Right"},
    {40, u"key_Down"},        {42, u"key_Print Scr"},  {44, u"key_Print Scr"},    {45, u"key_Insert"},
    {46, u"key_Delete"},      {91, u"key_LWin"},       {92, u"key_RWin"},         {93, u"key_APP"},
    {106, u"key_Num_*"},      {107, u"key_Num_+"},     {108, u"key_Num_Enter"},   {109, u"key_Num_-"},
    {110, u"key_Num_."},      {111, u"key_Num_/"},     {144, u"key_Num Lock"},    {145, u"key_Scroll Lock"},
};

// The language key of `code` in the lists; nothing when they do not name it.
std::optional<std::u16string> NameKey(uint32_t code, std::span<const KeyNameRun> runs, std::span<const KeyName> names) {
  for (const KeyNameRun& run : runs) {
    if (code >= run.first && code <= run.last) return Format(run.format, run.number + int(code - run.first));
  }
  for (const KeyName& name : names) {
    if (name.code == code) return std::u16string(name.key);
  }
  return std::nullopt;
}

const KeyCodeRow* FirstRow(uint32_t KeyCodeRow::*column, uint32_t value) {
  const auto it = std::find_if(KeyCodeTable.begin(), KeyCodeTable.end(),
                               [&](const KeyCodeRow& row) { return row.*column == value; });
  return it == KeyCodeTable.end() ? nullptr : &*it;
}

}  // namespace

UsageLookup VirtualKeyToUsage(uint32_t vk) {
  const KeyCodeRow* row = FirstRow(&KeyCodeRow::vk, vk);
  if (!row) return {false, 0};
  if (row->usage < kFirstPlacedUsage || row->usage > kLastPlacedUsage) return {true, row->usage};
  // By the position of the key that gives it. No such key (scan code 0) keeps the row's usage:
  // 0 is not a position, and the first row without scan code is another key entirely.
  const uint32_t scan = ActiveLayout().ScanCodeOfVirtualKey(vk);
  const KeyCodeRow* placed = scan ? FirstRow(&KeyCodeRow::scan, scan) : nullptr;
  return {true, placed ? placed->usage : row->usage};
}

uint32_t UsageToVirtualKey(uint32_t usage) {
  if (usage < kFirstPlacedUsage || usage > kLastPrintedUsage) return 0;
  const KeyCodeRow* row = FirstRow(&KeyCodeRow::usage, usage);
  return row ? ActiveLayout().VirtualKeyOfScanCode(row->scan) : 0;
}

std::u16string UsageToKeyText(uint32_t code) {
  if (code >= kFirstPlacedUsage && code <= kLastPrintedUsage) return VirtualKeyToKeyText(UsageToVirtualKey(code));
  const auto key = NameKey(code, kUsageRuns, kUsageNames);
  return key ? LanguageText(*key) : std::u16string();
}

std::u16string VirtualKeyToKeyText(uint32_t vk) {
  if (const auto key = NameKey(vk, kVirtualKeyRuns, kVirtualKeyNames)) return LanguageText(*key);
  return ActiveLayout().KeyCapText(vk);
}

}  // namespace brevak
