#include "protocol/frames.h"

#include <algorithm>
#include <memory>

#include "model/button_functions.h"
#include "model/device_values.h"

namespace brevak {

namespace {

Frame StartFrame(uint8_t command, uint8_t length, uint8_t byte2 = 1) {
  Frame f;
  f.length = length;
  f.bytes[0] = command;
  f.bytes[1] = length;
  f.bytes[2] = byte2;
  return f;
}

// Checksum of bytes 3..at-1, stored at `at` and `at`+1.
void PutChecksum(Frame& f, size_t at) {
  uint16_t sum = FrameChecksum(f.bytes, 3, at - 1);
  f.bytes[at] = uint8_t(sum >> 8);
  f.bytes[at + 1] = uint8_t(sum);
}

// A button whose macro is withheld does nothing on the mouse ("button off").
constexpr std::array<uint8_t, 3> kWithheldMacroBytes = {1, 0, 0};

}  // namespace

ButtonMacroCheck CheckButtonMacro(int button, const ButtonEntry& entry) {
  if (button < 0 || button >= kPageButtons || kMacroSlotBase[size_t(button)] == 0)
    return ButtonMacroCheck::kNoSlotsOfItsOwn;
  const int count = std::min<int>(entry.macro_action_count, kMaxMacroActions);
  if (!IsMacroWithinLimits(entry.macro_actions, count)) return ButtonMacroCheck::kTooLong;
  // Counted by the encoder that writes them, so the rule and the wire cannot disagree.
  if (BuildMacroReports(entry, kMacroSlotBase[size_t(button)]).size() > size_t(kMacroSlotsPerButton))
    return ButtonMacroCheck::kTooLong;
  return ButtonMacroCheck::kSends;
}

ButtonMacroCheck CheckButtonMacro(int button, const MacroAction* actions, int action_count) {
  auto entry = std::make_unique<ButtonEntry>();
  const int n = std::clamp(action_count, 0, kMaxMacroActions);
  entry->macro_action_count = uint16_t(n);
  std::copy(actions, actions + n, entry->macro_actions);
  return CheckButtonMacro(button, *entry);
}

uint16_t FrameChecksum(std::span<const uint8_t> bytes, size_t first, size_t last) {
  uint32_t sum = 0;
  for (size_t i = first; i <= last && i < bytes.size(); ++i) sum += bytes[i];
  return uint16_t(sum);
}

Frame BuildAttributeReport(const ProfileRecord& r) {
  Frame f = StartFrame(kCmdAttribute, kAttributeFrameLength);
  auto& b = f.bytes;
  b[3] = uint8_t(r.lift_off_distance);
  b[4] = uint8_t(r.ripple_control);
  uint8_t mask = 0;
  for (int i = 0; i < kDpiStages; ++i)
    if (r.dpi_stage_enabled[i] == 1) mask |= uint8_t(1u << i);
  b[5] = mask;
  b[6] = uint8_t(r.angle_snap);
  b[7] = uint8_t(r.motion_sync);
  for (int i = 0; i < kDpiStages; ++i) {
    if (r.dpi_value[i] == 0) continue;  // an unused stage stays 0, not 0xFFFF
    uint16_t wire = uint16_t(uint32_t(r.dpi_value[i]) - 1u);
    b[8 + i] = uint8_t(wire);
    b[16 + i] = uint8_t(wire >> 8);
  }
  b[24] = uint8_t(uint32_t(r.dpi_stage_index) + 1u);
  for (int i = 0; i < kDpiStages; ++i) {
    b[25 + 3 * i] = ColorRed(r.dpi_color[i]);
    b[26 + 3 * i] = ColorGreen(r.dpi_color[i]);
    b[27 + 3 * i] = ColorBlue(r.dpi_color[i]);
  }
  b[49] = 0x01;
  PutChecksum(f, 50);
  return f;
}

Frame BuildLightingReport(const ProfileRecord& r) {
  Frame f = StartFrame(kCmdLighting, kLightingFrameLength);
  auto& b = f.bytes;
  const uint32_t sleep = uint32_t(r.sleep_timer);
  b[3] = uint8_t(uint32_t(r.light_effect) << 4);
  b[4] = uint8_t((sleep & 0xF0) | (9u - uint32_t(r.effect_speed)));
  const bool shows_brightness = LightEffectOf(r.light_effect).brightness;
  b[5] = uint8_t((sleep << 4) | (shows_brightness ? uint32_t(r.brightness) : 8u));
  b[6] = ColorRed(r.light_color);
  b[7] = ColorGreen(r.light_color);
  b[8] = ColorBlue(r.light_color);
  b[9] = uint8_t(r.light_off_timer);
  b[10] = uint8_t(r.key_debounce);
  PutChecksum(f, 11);
  return f;
}

Frame BuildPollingReport(const ProfileRecord& r) {
  Frame f = StartFrame(kCmdPolling, kPollingFrameLength);
  // No checksum: the complement byte guards the value.
  // Unsigned arithmetic: stored records are not range-checked, and the wire keeps 8 bits.
  uint8_t v = uint8_t(((uint32_t(r.polling_rate_hs_index) + 1u) << 4) | (uint32_t(r.polling_rate_index) + 1u));
  f.bytes[3] = v;
  f.bytes[4] = uint8_t(~v);
  return f;
}

Frame BuildButtonReport(const ProfileRecord& r) {
  Frame f = StartFrame(kCmdButtons, kButtonFrameLength);
  for (int i = 0; i < kPageButtons; ++i) {
    const ButtonEntry& slot = r.button[i];
    std::array<uint8_t, 3> dev{};
    if (const ButtonFunction* fn = FindButtonFunction(slot.function_code)) dev = fn->device_bytes;
    if (slot.function_code == kFunctionShortcut) {
      dev[1] = slot.shortcut_modifiers;
      dev[2] = slot.shortcut_key;
    } else if (slot.function_code == kFunctionMacro) {
      dev[1] = 0;
      dev[2] = kMacroSlotBase[i];
      // Its frames are withheld: pointed at its slots it would play what they held before.
      if (MacroWithheld(i, slot)) dev = kWithheldMacroBytes;
    }
    std::copy(dev.begin(), dev.end(), f.bytes.begin() + 3 + 3 * i);
  }
  PutChecksum(f, 57);
  return f;
}

Frame BuildFullWriteReport() {
  Frame f = StartFrame(kCmdFullWrite, kFullWriteFrameLength);
  f.bytes[3] = 0xFE;
  f.bytes[4] = 0x01;
  f.bytes[5] = 0xFE;
  return f;
}

MacroFrame BuildMacroReport(const ButtonEntry& button, uint8_t slot, int resume_position) {
  MacroFrame out;
  out.frame = StartFrame(kCmdMacro, kMacroFrameLength, slot);
  auto& b = out.frame.bytes;
  if (resume_position == 0) {
    b[3] = uint8_t(button.macro_repeat_mode);
    std::copy(std::begin(button.macro_header_reserved), std::end(button.macro_header_reserved), b.begin() + 4);
    b[7] = button.macro_loop_count == 0 ? 1 : uint8_t(button.macro_loop_count);
  }
  // A damaged record may claim more steps than the slot holds; never read past them.
  const int count = std::min<int>(button.macro_action_count, kMaxMacroActions);
  int used = 0;  // item bytes written after byte 9
  for (int i = std::max(resume_position, 0); i < count; ++i) {
    const MacroAction& a = button.macro_actions[i];
    const uint16_t t = a.delay;
    uint8_t item[8];
    int n = 0;
    const uint8_t d = uint8_t(std::max<int>(t <= 127 ? t : t % 100, 2));
    if (a.kind == kMacroMove) {
      const uint16_t x = uint16_t(a.x), y = uint16_t(a.y);
      item[n++] = d;
      item[n++] = kMacroCodeMove;
      item[n++] = uint8_t(x >> 8);
      item[n++] = uint8_t(x);
      item[n++] = uint8_t(y >> 8);
      item[n++] = uint8_t(y);
    } else {
      item[n++] = a.kind == kMacroPress ? d : uint8_t(d | 0x80);
      item[n++] = a.code;
    }
    if (t > 127) {  // the hundreds travel in an item of their own
      item[n++] = uint8_t(t / 100);
      item[n++] = 0x03;
    }
    if (used + n > kMacroItemBytes) {
      b[kMacroItemsOffset + used] = uint8_t(slot + 1);
      b[kMacroItemsOffset + used + 1] = 0xFE;
      used += 2;
      out.continues = true;
      out.resume_position = i;
      break;
    }
    std::copy(item, item + n, b.begin() + kMacroItemsOffset + used);
    used += n;
  }
  b[8] = uint8_t(used / 2);
  PutChecksum(out.frame, 109);
  return out;
}

std::vector<Frame> BuildMacroReports(const ButtonEntry& button, uint8_t base_slot) {
  std::vector<Frame> frames;
  uint8_t slot = base_slot;
  int resume = 0;
  for (;;) {
    MacroFrame m = BuildMacroReport(button, slot, resume);
    frames.push_back(m.frame);
    if (!m.continues) break;
    slot = uint8_t(slot + 1);
    resume = m.resume_position;
  }
  return frames;
}

std::vector<Frame> BuildButtonMacroReports(const ButtonEntry& entry, int button) {
  if (CheckButtonMacro(button, entry) != ButtonMacroCheck::kSends) return {};
  return BuildMacroReports(entry, kMacroSlotBase[size_t(button)]);
}

}  // namespace brevak
