#pragma once
// Command frames written to the mouse. A frame has the same bytes on every connection;
// multi-byte values and checksums are high byte first.

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "model/profile_record.h"

namespace brevak {

enum FrameCommand : uint8_t {
  kCmdAttribute = 0x04,
  kCmdLighting = 0x05,
  kCmdPolling = 0x06,
  kCmdButtons = 0x08,
  kCmdMacro = 0x09,
  kCmdFullWrite = 0x0C,
};

inline constexpr uint8_t kAttributeFrameLength = 56;
inline constexpr uint8_t kLightingFrameLength = 15;
inline constexpr uint8_t kPollingFrameLength = 9;
inline constexpr uint8_t kButtonFrameLength = 59;
inline constexpr uint8_t kMacroFrameLength = 111;
inline constexpr uint8_t kFullWriteFrameLength = 10;
inline constexpr size_t kMaxFrameLength = kMacroFrameLength;

// Items of one macro frame: at most 98 bytes of steps, plus a 2-byte continuation item.
inline constexpr int kMacroItemBytes = 98;
inline constexpr int kMacroItemsOffset = 9;

// First macro slot on the mouse for each page button; a macro uses slots upward from it.
inline constexpr std::array<uint8_t, kPageButtons> kMacroSlotBase = {1, 5, 9, 13, 0, 0, 17, 21, 0,
                                                                     0, 0, 0, 0, 0, 0, 0, 0, 0};

// A button keeps its macro in the slots from its base up to the next button's base.
inline constexpr int kMacroSlotsPerButton = kMacroSlotBase[1] - kMacroSlotBase[0];
static_assert(kMacroSlotsPerButton == 4 && kMacroSlotBase[2] - kMacroSlotBase[1] == kMacroSlotsPerButton);

// Whether a button may send the macro it holds: only into slots of its own (a button with base 0
// would share slot 0 with every such button), in at most kMacroSlotsPerButton frames (a fifth
// lands in the next button's first slot) and within the mouse's macro units. The one rule the
// function menu, the imports, the re-link after the macro editor and the frame builders follow.
enum class ButtonMacroCheck { kSends, kNoSlotsOfItsOwn, kTooLong };
ButtonMacroCheck CheckButtonMacro(int button, const MacroAction* actions, int action_count);
ButtonMacroCheck CheckButtonMacro(int button, const ButtonEntry& entry);
// A button bound to a macro it may not send: the record keeps it, the mouse gets neither its
// frames nor the macro function (the button report turns it off).
inline bool MacroWithheld(int button, const ButtonEntry& entry) {
  return entry.function_code == kFunctionMacro && CheckButtonMacro(button, entry) != ButtonMacroCheck::kSends;
}

struct Frame {
  std::array<uint8_t, kMaxFrameLength> bytes{};
  uint8_t length = 0;  // also the value of byte 1

  std::span<const uint8_t> view() const { return {bytes.data(), length}; }
  uint8_t operator[](size_t i) const { return bytes[i]; }
};

// 16-bit sum of bytes [first, last] (inclusive), modulo 65536.
uint16_t FrameChecksum(std::span<const uint8_t> bytes, size_t first, size_t last);

Frame BuildAttributeReport(const ProfileRecord& record);
Frame BuildLightingReport(const ProfileRecord& record);
Frame BuildPollingReport(const ProfileRecord& record);
Frame BuildButtonReport(const ProfileRecord& record);
Frame BuildFullWriteReport();

struct MacroFrame {
  Frame frame;
  bool continues = false;  // another frame follows, addressed to slot + 1
  int resume_position = 0;  // action to start the next frame from
};

// One macro frame for `button`, addressed to `slot`, starting at action `resume_position`
// (0 for the first frame, which also carries repeat mode and loop count).
MacroFrame BuildMacroReport(const ButtonEntry& button, uint8_t slot, int resume_position);

// Every frame of the macro bound to `button`, starting at slot `base_slot`, as many as it takes:
// the encoding alone, which addresses whatever slots it is given.
std::vector<Frame> BuildMacroReports(const ButtonEntry& button, uint8_t base_slot);

// What the mouse is sent for page button `button`'s macro: its frames from the button's own
// base slot, or none when CheckButtonMacro refuses them.
std::vector<Frame> BuildButtonMacroReports(const ButtonEntry& entry, int button);

}  // namespace brevak
