#pragma once
// The macro editor: the library's macros (add, delete, rename, import, export) and the steps of
// the selected one (clicks and moves inserted by hand, steps moved, deleted, edited, or
// recorded from live input through the Hook library). Every accepted change of the steps is
// written at once into the library and its file; a change the mouse could not hold is undone by
// loading the macro again.

#include <array>
#include <functional>
#include <string>
#include <string_view>

#include "dialogs/file_chooser.h"
#include "macro/macro_steps.h"
#include "macro/recording.h"
#include "store/macro_store.h"
#include "ui/duilib.h"

class QObject;

namespace brevak {

// The mouse-button combo's items, in order.
inline constexpr std::array<uint8_t, 5> kEditorButtonCodes = {kMacroCodeLeft, kMacroCodeRight, kMacroCodeMiddle,
                                                              kMacroCodeForward, kMacroCodeBackward};

class CMS_1_Macro : public WindowImplBase {
 public:
  // `hooks` may be null or empty (no Hook library): nothing is recorded then.
  CMS_1_Macro(MacroStore& macros, const HookFunctionTable* hooks, FileChooser& files);
  ~CMS_1_Macro() override;

  // How the editor asks and tells the user: the message box unless a test replaces them.
  std::function<bool(std::string_view message_key)> confirm;
  std::function<void(std::u16string text)> warn;

  // Creates the editor over `owner`, centred, and runs it modally until it is closed (1).
  UINT Show(HWND owner);

  const MacroSteps& steps() const { return steps_; }
  bool recording() const { return recorder_.recording(); }

 protected:
  const char16_t* GetWindowClassName() const override { return u"MS_1_Macro"; }
  CDuiString GetSkinFile() override { return "ms_1_macropage.xml"; }
  void InitWindow() override;
  void Notify(TNotifyUI& msg) override;
  void OnClick(TNotifyUI& msg) override;
  LRESULT HandleCustomMessage(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) override;
  LRESULT OnDestroy(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) override;

 private:
  struct Controls;
  MacroRecord* Current() const;
  void LoadMacro(int index);
  bool Commit();
  void RebuildStepList(int select_row);
  bool AddStepRow(int at);
  void SelectStepRow(int row);
  void ShowRecordedStep();
  void ShowRow(int row);
  void SelectMacroRow(int row);

  void AddNewMacro();
  void DeleteCurrentMacro();
  void RenameCurrentMacro();
  void ImportFile();
  void ExportCurrent();

  void InsertClick(uint8_t code);
  void InsertMove();
  void AfterStepEdit(bool changed, int select_row);
  void SetEditMode(bool on);
  void ShowEditPanel();
  void TakePanelField(CControlUI* field);
  void FilterCoordinateField(CControlUI* field);

  void StartRecording();
  // False when what the recording took could not be kept (the user was told why).
  bool FinishRecording();
  // A control is about to change the steps or the current macro: a running recording ends
  // first, keeping what it took, so nothing changes under the recorder.
  void EndRecording();
  void TakeKeyForField(WPARAM wParam);
  void ReleaseKeyField();
  uint16_t DefaultDelay() const;

  MacroStore& macros_;
  const HookFunctionTable* hooks_;
  FileChooser& files_;
  std::unique_ptr<Controls> c_;
  MacroSteps steps_;
  MacroRecorder recorder_;
  // While recording: keeps every key from the editor's controls and the window's shortcuts.
  std::unique_ptr<QObject> key_keeper_;
  int current_ = -1;
  bool edit_mode_ = false;
  DelayMode delay_mode_ = DelayMode::kDefault;
  bool key_field_hooked_ = false;
};

}  // namespace brevak
