// The key tables on keymaps built from names (xkb-data), never the display of whoever runs the
// tests: keys are stored by position and shown as the layout prints them.
#include "macro/key_tables.h"

#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include <map>

#include "platform/keyboard/keyboard_layout.h"
#include "platform/text.h"

namespace brevak {
namespace {

KeyboardLayout Named(const char* layout, uint32_t group = 0) {
  auto named = KeyboardLayout::FromNames({"evdev", "pc105", layout, "", ""}, group);
  EXPECT_TRUE(named) << layout << " is not in xkb-data";
  return named ? *named : KeyboardLayout();
}

// Every non-empty key reads as "[key]", so a test sees that a lookup happened and of which key.
class BracketLanguage : public LanguageTable {
 public:
  std::optional<std::u16string> Find(std::u16string_view key) const override {
    if (key.empty()) return std::nullopt;
    return u"[" + std::u16string(key) + u"]";
  }
};

class KeyTables : public ::testing::Test {
 protected:
  void SetUp() override { SetLanguageTable(std::make_shared<BracketLanguage>()); }
  void TearDown() override {
    PinActiveLayout(std::nullopt);
    SetLanguageTable(nullptr);
  }
  void Use(const char* layout) { PinActiveLayout(Named(layout)); }
};

// The usage of the key at an evdev position, written from the HID usage tables: the main block
// through the table's scan codes (set 1 equals evdev there), the rest here.
uint32_t PositionUsage(UINT evdev) {
  static const std::map<UINT, uint32_t> kOthers = {
      {KEY_LEFTCTRL, 0xE0},  {KEY_LEFTSHIFT, 0xE1},  {KEY_LEFTALT, 0xE2},  {KEY_LEFTMETA, 0xE3},
      {KEY_RIGHTCTRL, 0xE4}, {KEY_RIGHTSHIFT, 0xE5}, {KEY_RIGHTALT, 0xE6}, {KEY_RIGHTMETA, 0xE7},
      {KEY_SYSRQ, 0x46},     {KEY_SCROLLLOCK, 0x47}, {KEY_PAUSE, 0x48},    {KEY_INSERT, 0x49},
      {KEY_HOME, 0x4A},      {KEY_PAGEUP, 0x4B},     {KEY_DELETE, 0x4C},   {KEY_END, 0x4D},
      {KEY_PAGEDOWN, 0x4E},  {KEY_RIGHT, 0x4F},      {KEY_LEFT, 0x50},     {KEY_DOWN, 0x51},
      {KEY_UP, 0x52},        {KEY_NUMLOCK, 0x53},    {KEY_KPSLASH, 0x54},  {KEY_KPASTERISK, 0x55},
      {KEY_KPMINUS, 0x56},   {KEY_KPPLUS, 0x57},     {KEY_KPENTER, 0x58},  {KEY_KP1, 0x59},
      {KEY_KP2, 0x5A},       {KEY_KP3, 0x5B},        {KEY_KP4, 0x5C},      {KEY_KP5, 0x5D},
      {KEY_KP6, 0x5E},       {KEY_KP7, 0x5F},        {KEY_KP8, 0x60},      {KEY_KP9, 0x61},
      {KEY_KP0, 0x62},       {KEY_KPDOT, 0x63},      {KEY_COMPOSE, 0x65}};
  for (const KeyCodeRow& row : KeyCodeTable) {
    if (row.scan != 0 && row.scan == evdev) return row.usage;
  }
  const auto it = kOthers.find(evdev);
  return it == kOthers.end() ? 0 : it->second;
}

constexpr const char* kLayouts[] = {"us", "fr", "de"};

TEST_F(KeyTables, EveryKeyTheHookReportsIsStoredByItsPosition) {
  for (const char* layout : kLayouts) {
    Use(layout);
    const KeyboardLayout keys = ActiveLayout();
    for (UINT keycode = kX11KeyCodeOffset; keycode < 256; ++keycode) {
      const UINT vk = keys.VirtualKeyOfKeyCode(keycode);
      EXPECT_EQ(VirtualKeyToUsage(vk).usage, PositionUsage(keycode - kX11KeyCodeOffset))
          << layout << ": evdev " << keycode - kX11KeyCodeOffset << ", virtual key 0x" << std::hex << vk;
    }
  }
}

TEST_F(KeyTables, MainBlockUsagesRoundTripAndHaveATextOnEveryLayout) {
  for (const char* layout : kLayouts) {
    Use(layout);
    for (uint32_t usage = 0x04; usage <= 0x38; ++usage) {
      if (usage == 0x32) continue;  // no row
      const uint32_t vk = UsageToVirtualKey(usage);
      EXPECT_EQ(VirtualKeyToUsage(vk).usage, usage) << layout << ": usage 0x" << std::hex << usage;
      EXPECT_FALSE(UsageToKeyText(usage).empty()) << layout << ": usage 0x" << std::hex << usage;
    }
    EXPECT_EQ(UsageToVirtualKey(0x32), 0u);
    EXPECT_EQ(UsageToKeyText(0x32), u"");
  }
}

TEST_F(KeyTables, KeysShowWhatTheLayoutPrints) {
  const struct {
    const char* layout;
    uint32_t usage;
    std::u16string text;
  } cases[] = {
      {"us", 0x04, u"A"},       {"us", 0x33, u";"},        {"us", 0x1E, u"1"},
      {"fr", 0x1E, u"&"},       {"fr", 0x14, u"A"},        {"fr", 0x04, u"Q"},
      {"fr", 0x10, u","},       {"fr", 0x33, u"M"},        {"fr", 0x2F, u"^"},  // a dead key: its accent
      {"de", 0x33, u"\u00D6"},  {"de", 0x1C, u"Z"},        {"de", 0x2E, u"\u00B4"},
      {"de", 0x35, u"^"},       {"us", 0x28, u"[key_Enter]"}, {"fr", 0x2C, u"[key_Space]"},
      {"de", 0x39, u"[key_Caplk]"}, {"us", 0x3A, u"[key_F1]"}, {"us", 0x61, u"[key_Num_9]"},
      {"us", 0x62, u"[key_Num_0]"}, {"us", 0x64, u"[key_\\]"}, {"us", 0xE5, u"[key_RShift]"},
      {"us", 241, u"[L_Button]"}, {"us", 245, u"[Forward_Button]"},
      // Codes without a name: no text (0x68 looks up the empty key, which has none).
      {"us", 0, u""},           {"us", 0x68, u""},         {"us", 232, u""},    {"us", 246, u""},
  };
  for (const auto& c : cases) {
    Use(c.layout);
    EXPECT_EQ(Utf16ToUtf8(UsageToKeyText(c.usage)), Utf16ToUtf8(c.text)) << c.layout << ": 0x" << std::hex << c.usage;
  }
}

TEST_F(KeyTables, VirtualKeysFindTheirRows) {
  const struct {
    const char* layout;
    uint32_t vk;
    bool found;
    uint32_t usage;
  } cases[] = {
      {"us", 0x10, false, 0},     // VK_SHIFT has no row, only the sided codes
      {"us", 0xA0, true, 0xE1},   // VK_LSHIFT
      {"us", 0x7C, false, 0},     // F13
      {"us", 0x7B, true, 0x45},   // F12
      {"fr", 'A', true, 0x14},    // the French A sits where the US Q does
      {"fr", '1', true, 0x1E},
      {"de", 'Y', true, 0x1D},
      {"us", 0xDF, true, 0x38},   // no key gives it here: the row's own usage, not the first scan-0 row's
      {"us", 0xF3, true, 0xF3},
  };
  for (const auto& c : cases) {
    Use(c.layout);
    const UsageLookup got = VirtualKeyToUsage(c.vk);
    EXPECT_EQ(got.found, c.found) << c.layout << ": 0x" << std::hex << c.vk;
    EXPECT_EQ(got.usage, c.usage) << c.layout << ": 0x" << std::hex << c.vk;
  }
  Use("us");
  EXPECT_EQ(UsageToVirtualKey(0x38), 0xBFu);  // the first of the two rows
  EXPECT_EQ(Utf16ToUtf8(VirtualKeyToKeyText(0x10)), "[key_LShift]");
  EXPECT_EQ(Utf16ToUtf8(VirtualKeyToKeyText(96)), "[key_Num_0]");
  EXPECT_EQ(Utf16ToUtf8(VirtualKeyToKeyText(123)), "[key_F12]");
}

// The group in effect decides: the second group of "us,de" answers like "de" for every key.
TEST_F(KeyTables, TheGroupInEffectDecides) {
  const KeyboardLayout de = Named("de"), second = Named("us,de", 1), first = Named("us,de", 0);
  const KeyboardLayout us = Named("us");
  for (UINT keycode = 0; keycode < 256; ++keycode) {
    EXPECT_EQ(second.VirtualKeyOfKeyCode(keycode), de.VirtualKeyOfKeyCode(keycode)) << keycode;
    EXPECT_EQ(first.VirtualKeyOfKeyCode(keycode), us.VirtualKeyOfKeyCode(keycode)) << keycode;
  }
  EXPECT_EQ(Utf16ToUtf8(second.KeyCapText(0xBA)), "\u00D6");
  EXPECT_EQ(Utf16ToUtf8(first.InGroup(1).KeyCapText(0xBA)), "\u00D6");
}

}  // namespace
}  // namespace brevak
