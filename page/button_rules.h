#pragma once
// The rules of the function menu, written once: the window's menu and the command-line client
// assign a button's function through them. No Qt and no controls.

#include <cstdint>

#include "model/profile_record.h"
#include "store/macro_store.h"

namespace brevak {

// Buttons 1..12 can be given another function; 13..18 show their captions only.
inline constexpr int kMenuButtons = 12;

// A button whose macro would be written from slot 0 shares it with every other such button and
// would overwrite button 1's later frames: macros go only where a button has slots of its own.
bool HasOwnMacroSlots(int button);
// Some button of 1..16 stays a left click once `button` gets `code`.
bool KeepsLeftClick(const ProfileRecord& r, int button, uint8_t code);

// A function chosen for a button: a code of the table, a shortcut or a macro of the library.
struct ButtonChoice {
  uint8_t code = 0;
  uint8_t modifiers = 0, key = 0;  // a shortcut
  int32_t macro_index = -1;        // a macro: its place in the library, repeat mode and loops
  int32_t repeat_mode = 0;
  int32_t loop_count = 1;
};

enum class ButtonRefusal {
  kNone,
  kNotAMenuButton,   // buttons 1..12 only
  kNotInMenu,        // a code the menu does not offer
  kLeftClickGuard,   // "one_click_text"
  kNoMacroSlots,     // the button has no macro slots of its own
  kNoSuchMacro,      // the index is outside the library
  kMacroTooLong,     // "macro_too_long_text": more frames than a button has slots
  kEmptyShortcut,    // neither a modifier nor a key
};

// Checks `choice` for button `button` (0-based) against every rule; nothing is changed.
ButtonRefusal CheckButtonChoice(const ProfileRecord& r, int button, const ButtonChoice& choice,
                                const MacroList& macros);
// Checks, then gives the button its function (a macro's steps copied from the library); the
// record is left as it was when refused.
ButtonRefusal AssignButton(ProfileRecord& r, int button, const ButtonChoice& choice, const MacroList& macros);

}  // namespace brevak
