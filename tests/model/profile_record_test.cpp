#include "model/profile_record.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "model/button_functions.h"
#include "platform/text.h"

namespace brevak {
namespace {

const uint8_t* Bytes(const ProfileRecord& r) { return reinterpret_cast<const uint8_t*>(&r); }

int32_t Int32At(const ProfileRecord& r, size_t offset) {
  int32_t v;
  std::memcpy(&v, Bytes(r) + offset, 4);
  return v;
}

TEST(ProfileRecord, NewRecordHoldsResetValuesAtTheirFileOffsets) {
  auto r = NewProfileRecord(u"Game");
  // Raw offsets as stored files hold them, independent of the struct's field names.
  EXPECT_EQ(Int32At(*r, 2200), 420);
  EXPECT_EQ(Int32At(*r, 2204), 3);
  EXPECT_EQ(Int32At(*r, 2212), 6);
  EXPECT_EQ(Int32At(*r, 2244 + 4 * 5), 520);
  EXPECT_EQ(Int32At(*r, 2276 + 4 * 3), 130);
  EXPECT_EQ(Int32At(*r, 2308 + 4 * 6), 0);
  EXPECT_EQ(Int32At(*r, 2352), 1);
  EXPECT_EQ(Bytes(*r)[2392], 1);
  EXPECT_EQ(Int32At(*r, 2400), 1);
  EXPECT_EQ(Int32At(*r, 2440 + 4 * 7), 0x000080FF);
  EXPECT_EQ(FixedToString(r->name), u"Game");

  // Slot 3 (button 4): index 3, code 52, reserved 562, list index -1 and the -1 at 1076.
  const uint8_t* slot3 = Bytes(*r) + 2472 + 3 * 4128;
  EXPECT_EQ(slot3[0], 3);
  EXPECT_EQ(slot3[1], 52);
  EXPECT_EQ(slot3[8] | (slot3[9] << 8), 562);
  int32_t list_index, r1076;
  std::memcpy(&list_index, slot3 + 1072, 4);
  std::memcpy(&r1076, slot3 + 1076, 4);
  EXPECT_EQ(list_index, -1);
  EXPECT_EQ(r1076, -1);

  // The six reserved slots are entirely zero.
  const uint8_t* reserved_slots = Bytes(*r) + 2472 + 18 * 4128;
  EXPECT_TRUE(std::all_of(reserved_slots, reserved_slots + 6 * 4128, [](uint8_t b) { return b == 0; }));
}

TEST(ProfileRecord, ResetWritesEveryListedFieldAndKeepsNameMoveModeAndUnlistedBytes) {
  auto dirty = std::make_unique<ProfileRecord>();
  std::memset(static_cast<void*>(dirty.get()), 0xAB, sizeof(ProfileRecord));
  SetFixed(dirty->name, u"Keep me");
  dirty->move_mode = 7;
  ResetProfile(*dirty);

  // Expected: a fresh record, except the bytes reset must leave alone.
  auto expected = NewProfileRecord(u"Keep me");
  expected->move_mode = 7;
  std::memset(expected->unused_2209, 0xAB, sizeof expected->unused_2209);
  std::memset(expected->unused_2216, 0xAB, sizeof expected->unused_2216);
  std::memset(expected->unused_2236, 0xAB, sizeof expected->unused_2236);
  std::memset(expected->unused_2393, 0xAB, sizeof expected->unused_2393);
  EXPECT_TRUE(SameProfileBytes(*dirty, *expected));
  for (size_t i = 0; i < sizeof(ProfileRecord); ++i)
    if (Bytes(*dirty)[i] != Bytes(*expected)[i]) {
      ADD_FAILURE() << "first difference at byte " << i;
      break;
    }
}

TEST(ProfileRecord, DpiResetTouchesOnlyTheDpiPanel) {
  auto r = NewProfileRecord(u"p");
  auto before = std::make_unique<ProfileRecord>(*r);
  r->dpi_value[2] = 99;
  r->dpi_value_copy[7] = 5;
  r->dpi_stage_enabled[7] = 1;
  r->dpi_stage_index = 6;
  r->dpi_color[4] = 0x123456;
  r->brightness = 1;  // not part of the DPI panel
  ResetDpiSettings(*r);
  before->brightness = 1;
  EXPECT_TRUE(SameProfileBytes(*r, *before));
}

TEST(ProfileRecord, LongNameIsCutTo99Characters) {
  std::u16string long_name(150, u'n');
  auto r = NewProfileRecord(long_name);
  EXPECT_EQ(FixedToString(r->name), long_name.substr(0, 99));
  EXPECT_EQ(r->name[99], 0);
}

// One edit of one field and the change groups it must land in.
struct GroupCase {
  const char* what;
  std::function<void(ProfileRecord&)> edit;
  bool attribute, polling, lighting, buttons;
  int macro_slot;  // -1: no macro group
};

TEST(ChangeGroups, EachFieldLandsInExactlyItsGroups) {
  const std::vector<GroupCase> cases = {
      {"dpi stage value", [](auto& r) { r.dpi_value[3] = 200; }, true, false, false, false, -1},
      {"dpi value copy", [](auto& r) { r.dpi_value_copy[7] = 1; }, true, false, false, false, -1},
      {"stage enabled", [](auto& r) { r.dpi_stage_enabled[6] = 1; }, true, false, false, false, -1},
      {"stage colour", [](auto& r) { r.dpi_color[0] = 0x010203; }, true, false, false, false, -1},
      {"current stage", [](auto& r) { r.dpi_stage_index = 4; }, true, false, false, false, -1},
      {"lift-off", [](auto& r) { r.lift_off_distance = 1; }, true, false, false, false, -1},
      {"attribute reserved 1", [](auto& r) { r.attribute_reserved_1 = 9; }, true, false, false, false, -1},
      {"attribute reserved 2", [](auto& r) { r.attribute_reserved_2 = 9; }, true, false, false, false, -1},
      {"ripple", [](auto& r) { r.ripple_control = 0; }, true, false, false, false, -1},
      {"angle snap", [](auto& r) { r.angle_snap = 1; }, true, false, false, false, -1},
      {"motion sync", [](auto& r) { r.motion_sync = 0; }, true, false, false, false, -1},
      {"polling", [](auto& r) { r.polling_rate_index = 0; }, false, true, false, false, -1},
      {"polling hs", [](auto& r) { r.polling_rate_hs_index = 2; }, false, true, false, false, -1},
      {"effect", [](auto& r) { r.light_effect = 1; }, false, false, true, false, -1},
      {"light reserved", [](auto& r) { r.light_reserved = 0; }, false, false, true, false, -1},
      {"speed", [](auto& r) { r.effect_speed = 2; }, false, false, true, false, -1},
      {"brightness", [](auto& r) { r.brightness = 15; }, false, false, true, false, -1},
      {"debounce", [](auto& r) { r.key_debounce = 10; }, false, false, true, false, -1},
      {"light colour", [](auto& r) { r.light_color = 0xFF; }, false, false, true, false, -1},
      {"sleep timer", [](auto& r) { r.sleep_timer = 200; }, false, false, true, false, -1},
      {"light-off timer", [](auto& r) { r.light_off_timer = 9; }, false, false, true, false, -1},
      {"wake-up", [](auto& r) { r.wakeup = 0; }, false, false, false, false, -1},
      {"move mode", [](auto& r) { r.move_mode = 1; }, false, false, false, false, -1},
      {"name", [](auto& r) { SetFixed(r.name, u"other"); }, false, false, false, false, -1},
      {"reserved text", [](auto& r) { r.reserved_text_2[10] = u'x'; }, false, false, false, false, -1},
      {"palette", [](auto& r) { r.palette_reserved[1] = 0; }, false, false, false, false, -1},
      {"reserved 2200", [](auto& r) { r.reserved_2200 = 0; }, false, false, false, false, -1},
      {"reserved 2392", [](auto& r) { r.reserved_2392 = 0; }, false, false, false, false, -1},
      {"function code", [](auto& r) { r.button[2].function_code = 9; }, false, false, false, true, -1},
      {"shortcut key", [](auto& r) { r.button[9].shortcut_key = 4; }, false, false, false, true, -1},
      {"reserved slot 20", [](auto& r) { r.button[20].function_code = 1; }, false, false, false, true, -1},
      {"macro name", [](auto& r) { SetFixed(r.button[3].macro_name, u"m"); }, false, false, false, true, -1},
      {"macro list index", [](auto& r) { r.button[4].macro_list_index = 2; }, false, false, false, true, -1},
      {"macro step", [](auto& r) { r.button[5].macro_actions[3].delay = 40; }, false, false, false, true, 5},
      {"last macro step", [](auto& r) { r.button[0].macro_actions[189].y = 1; }, false, false, false, true, 0},
      {"repeat mode", [](auto& r) { r.button[0].macro_repeat_mode = 2; }, false, false, false, true, 0},
      {"loop count", [](auto& r) { r.button[17].macro_loop_count = 3; }, false, false, false, true, 17},
      {"macro header", [](auto& r) { r.button[1].macro_header_reserved[2] = 1; }, false, false, false, true, 1},
      {"step count", [](auto& r) { r.button[8].macro_action_count = 2; }, false, false, false, true, 8},
  };
  const auto base = NewProfileRecord(u"base");
  for (const auto& c : cases) {
    auto edited = std::make_unique<ProfileRecord>(*base);
    c.edit(*edited);
    ASSERT_FALSE(SameProfileBytes(*edited, *base)) << c.what << ": the edit changed nothing";
    ChangeGroups g = CompareChangeGroups(*edited, *base);
    EXPECT_EQ(g.attribute, c.attribute) << c.what;
    EXPECT_EQ(g.polling, c.polling) << c.what;
    EXPECT_EQ(g.lighting, c.lighting) << c.what;
    EXPECT_EQ(g.buttons, c.buttons) << c.what;
    for (int i = 0; i < kPageButtons; ++i) EXPECT_EQ(g.macro[i], i == c.macro_slot) << c.what << " slot " << i;
    EXPECT_EQ(g.Any(), c.attribute || c.polling || c.lighting || c.buttons || c.macro_slot >= 0) << c.what;
  }
}

TEST(ChangeGroups, CopiesCompareEqualAndAllMarksEverything) {
  auto a = NewProfileRecord(u"a");
  a->button[6].function_code = kFunctionMacro;
  a->button[6].macro_action_count = 3;
  auto b = std::make_unique<ProfileRecord>();
  CopyProfile(*b, *a);
  EXPECT_TRUE(SameProfileBytes(*a, *b));
  EXPECT_FALSE(CompareChangeGroups(*a, *b).Any());

  ChangeGroups all = ChangeGroups::All();
  EXPECT_TRUE(all.attribute && all.polling && all.lighting && all.buttons);
  EXPECT_EQ(std::count(all.macro.begin(), all.macro.end(), true), kPageButtons);
}

TEST(ButtonFunctions, LookupsByCodeAndMenuItemAgree) {
  std::vector<int> seen_codes;
  for (const ButtonFunction& f : ButtonFunctionTable()) {
    EXPECT_EQ(std::count(seen_codes.begin(), seen_codes.end(), f.code), 0) << "duplicate code " << int(f.code);
    seen_codes.push_back(f.code);
    EXPECT_EQ(FindButtonFunction(f.code), &f);
    if (!f.menu_item.empty()) {
      EXPECT_EQ(FindButtonFunctionByMenuItem(f.menu_item), &f) << f.menu_item;
      EXPECT_TRUE(f.menu_item.starts_with("ms_1_")) << f.menu_item;
    }
    if (!f.caption_key.empty()) {
      EXPECT_TRUE(f.caption_key.ends_with("_text")) << f.caption_key;
    }
  }
  for (int code : {15, 18, 20, 53, 90, 116, 255}) EXPECT_EQ(FindButtonFunction(uint8_t(code)), nullptr) << code;
  EXPECT_EQ(FindButtonFunctionByMenuItem(""), nullptr);
  EXPECT_EQ(FindButtonFunctionByMenuItem("ms_1_nothing"), nullptr);
  // Every default function of the page's buttons is a known code.
  for (uint8_t code : kDefaultFunctionCodes) EXPECT_NE(FindButtonFunction(code), nullptr) << int(code);
}

}  // namespace
}  // namespace brevak
