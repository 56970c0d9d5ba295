#pragma once
// The macro editor's working copy of one macro's steps, and where the next inserted step goes.
// Plain data and operations, so the editing rules can be used and tested without a window.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "model/macro_record.h"

namespace brevak {

// The mouse keeps a button's macro in four frame slots (its base slots are four apart); a fifth
// frame would land on the next button's first slot and be overwritten by that button's macro.
int CountMacroFrames(const MacroAction* actions, int action_count);
// What the editor accepts: fewer than 192 units and no more frames than a button has slots.
bool FitsOnMouse(const MacroAction* actions, int action_count);

inline constexpr uint16_t kInsertedStepDelay = 10;  // ms after a click or move inserted by hand

struct MacroSteps {
  std::array<MacroAction, kMaxMacroActions> steps{};
  int count = 0;
  int selected = -1;         // selected step; -1 = none
  int insertion = -1;        // where the next step goes; -1 = at the end
  int insertion_start = -1;  // `insertion` when the current recording or insert began
  bool scroll_to_insertion = false;

  // Takes the record's steps (a damaged count is brought into 0..190); no step is selected
  // when it has none.
  void Load(const MacroRecord& record);
  // No steps; insertion at the end.
  void Clear();
  // Inserts at `insertion` (the end when -1); later steps move down. False when full.
  bool InsertStep(const MacroAction& step);
  // A press and a release of a mouse-button code after the selected step; needs two places.
  bool InsertClick(uint8_t code, uint16_t delay);
  // A move after the selected step, or at the end without one.
  bool InsertMove(int32_t x, int32_t y);
  // The selected step swapped with its neighbour, which becomes selected; false at the edge.
  bool MoveSelected(int by);
  // Removes the selected step; the step now at its place (or the last) becomes selected.
  bool DeleteSelected();
  // The row to show selected after the list is rebuilt: before the insertion point when
  // scrolling to it, else the last.
  int RowAfterRebuild() const;
};

// A keyboard step's delay as its field clamps it (10..25000), a move's (1..25000).
uint16_t ClampStepDelay(int64_t value);
uint16_t ClampMoveDelay(int64_t value);
// A coordinate field's text keeping only digits and '-', then limited to -999..999 ("1500"
// becomes "999"). Text that is no number yet ("", "-") stays as it is.
std::u16string FilterCoordinate(std::u16string_view text);
// The number a field shows; 0 for none, saturating far outside int.
int64_t FieldNumber(std::u16string_view text);

}  // namespace brevak
