#pragma once
// What the page asks of the user, in one place: the program opens its modal windows (over the
// main window), tests answer in script, so no page test runs a nested modal loop.

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dialogs/bindings_wnd.h"
#include "dialogs/file_chooser.h"
#include "platform/winapi.h"
#include "store/macro_store.h"
#include "store/profile_store.h"

namespace brevak {

struct HookFunctionTable;

class PageDialogs {
 public:
  virtual ~PageDialogs() = default;
  // A warning with one OK button; the text of a language key, or a text composed by the page.
  virtual void Warn(std::string_view message_key) = 0;
  virtual void WarnText(std::u16string text) = 0;
  // A question with OK and Cancel; true for OK.
  virtual bool Confirm(std::string_view message_key) = 0;
  // The colour dialog with its top-left corner at `at` (screen), showing `color`
  // (0xFFRRGGBB); the colour the user confirmed, or nothing.
  virtual std::optional<DWORD> PickColor(DWORD color, POINT at) = 0;
  // The profile name dialog titled by `title_key`, opening with `initial` selected, refusing the
  // `taken` names; the name as typed, or nothing when cancelled (or confirmed unchanged).
  virtual std::optional<std::u16string> AskProfileName(std::string_view title_key,
                                                       const std::vector<std::u16string>& taken,
                                                       const std::u16string& initial) = 0;
  // Where files to export and import are chosen.
  virtual FileChooser& Files() = 0;
  // The shortcut dialog showing `modifiers` (bits Ctrl, Shift, Alt, Windows key) and `key` (a
  // HID usage); true when confirmed, with the choice in place.
  virtual bool ChooseShortcut(uint8_t& modifiers, uint8_t& key) = 0;
  // The macro selection dialog over the library, showing the button's macro found by its name
  // `current` (empty: none), repeat `mode` and loop `count`; true when confirmed, with the chosen
  // macro's `index` (-1: none), mode and count in place.
  virtual bool SelectMacro(const MacroList& macros, std::u16string_view current, int32_t& index, int32_t& mode,
                           int32_t& count) = 0;
  // The macro editor over the library; returns once it is closed, its changes saved.
  virtual void EditMacros(MacroStore& macros) = 0;
  // The programs bound to profiles, edited through `model`; returns once it is closed.
  virtual void EditBindings(BindingsModel& model) { (void)model; }
};

// The program's: the small dialogs, modal over `owner`.
class ModalPageDialogs : public PageDialogs {
 public:
  void SetOwner(HWND owner) { owner_ = owner; }
  void Warn(std::string_view message_key) override;
  void WarnText(std::u16string text) override;
  bool Confirm(std::string_view message_key) override;
  std::optional<DWORD> PickColor(DWORD color, POINT at) override;
  std::optional<std::u16string> AskProfileName(std::string_view title_key, const std::vector<std::u16string>& taken,
                                               const std::u16string& initial) override;
  FileChooser& Files() override;
  bool ChooseShortcut(uint8_t& modifiers, uint8_t& key) override;
  bool SelectMacro(const MacroList& macros, std::u16string_view current, int32_t& index, int32_t& mode,
                   int32_t& count) override;
  void EditMacros(MacroStore& macros) override;
  void EditBindings(BindingsModel& model) override;
  // The Hook library's table, which the shortcut dialog's key field and the macro editor capture
  // through.
  void SetHookTable(const HookFunctionTable* hooks) { hooks_ = hooks; }

 private:
  const HookFunctionTable* hooks_ = nullptr;
  HWND owner_ = nullptr;
  std::unique_ptr<QtFileChooser> files_;
};

}  // namespace brevak
