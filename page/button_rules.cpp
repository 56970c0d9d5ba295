#include "page/button_rules.h"

#include <cstring>

#include "macro/macro_steps.h"
#include "model/button_functions.h"
#include "protocol/frames.h"

namespace brevak {

namespace {
constexpr uint8_t kFunctionLeftClick = 1;
// The left-click guard looks at buttons 1..16.
constexpr int kGuardedButtons = 16;
}  // namespace

bool HasOwnMacroSlots(int button) {
  // An empty macro passes the rule wherever a button has slots of its own.
  return button >= 0 && button < kPageButtons &&
         CheckButtonMacro(button, nullptr, 0) != ButtonMacroCheck::kNoSlotsOfItsOwn;
}

bool KeepsLeftClick(const ProfileRecord& r, int button, uint8_t code) {
  for (int i = 0; i < kGuardedButtons; ++i) {
    if ((i == button ? code : r.button[i].function_code) == kFunctionLeftClick) return true;
  }
  return false;
}

ButtonRefusal CheckButtonChoice(const ProfileRecord& r, int button, const ButtonChoice& c, const MacroList& macros) {
  if (button < 0 || button >= kMenuButtons) return ButtonRefusal::kNotAMenuButton;
  const ButtonFunction* f = FindButtonFunction(c.code);
  if (!f || f->menu_item.empty()) return ButtonRefusal::kNotInMenu;
  if (!KeepsLeftClick(r, button, c.code)) return ButtonRefusal::kLeftClickGuard;
  if (c.code == kFunctionShortcut && !c.modifiers && !c.key) return ButtonRefusal::kEmptyShortcut;
  if (c.code == kFunctionMacro) {
    if (!HasOwnMacroSlots(button)) return ButtonRefusal::kNoMacroSlots;
    if (c.macro_index < 0 || size_t(c.macro_index) >= macros.size()) return ButtonRefusal::kNoSuchMacro;
    const MacroRecord& m = *macros[size_t(c.macro_index)];
    // A stored macro (an imported file, an older library) may need more frames than a button
    // has slots; on the mouse its last one would be overwritten by the next button's macro.
    switch (CheckButtonMacro(button, m.actions, m.action_count)) {
      case ButtonMacroCheck::kSends: break;
      case ButtonMacroCheck::kNoSlotsOfItsOwn: return ButtonRefusal::kNoMacroSlots;
      case ButtonMacroCheck::kTooLong: return ButtonRefusal::kMacroTooLong;
    }
  }
  return ButtonRefusal::kNone;
}

ButtonRefusal AssignButton(ProfileRecord& r, int button, const ButtonChoice& c, const MacroList& macros) {
  if (ButtonRefusal refusal = CheckButtonChoice(r, button, c, macros); refusal != ButtonRefusal::kNone) return refusal;
  ButtonEntry& b = r.button[button];
  if (c.code == kFunctionShortcut) {
    // The key bytes of another function mean nothing to a shortcut.
    if (b.function_code != kFunctionShortcut) std::memset(&b.shortcut_key, 0, 4);
    b.shortcut_key = c.key;
    b.shortcut_modifiers = c.modifiers;
  } else if (c.code == kFunctionMacro) {
    b.macro_repeat_mode = c.repeat_mode;
    b.macro_loop_count = c.loop_count;
    b.macro_list_index = c.macro_index;
    RefreshButtonCopy(b, *macros[size_t(c.macro_index)]);
  }
  b.function_code = c.code;
  return ButtonRefusal::kNone;
}

}  // namespace brevak
