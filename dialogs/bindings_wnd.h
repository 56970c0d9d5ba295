#pragma once
// The programs bound to profiles: every binding (a window class and its profile), a class to
// add, typed or chosen from the programs whose windows are open now, bound to the profile the
// page has selected, and the selected binding removed. The dialog edits through a model, so it
// knows nothing of the file behind it.

#include <string>
#include <vector>

#include "ui/duilib.h"

namespace brevak {

struct BindingRow {
  std::u16string window_class, profile;
};

class BindingsModel {
 public:
  virtual ~BindingsModel() = default;
  virtual std::vector<BindingRow> Rows() = 0;
  // The classes of the programs whose windows are open now.
  virtual std::vector<std::u16string> OpenClasses() = 0;
  // The profile an added class is bound to.
  virtual std::u16string Profile() = 0;
  // What switching can see of the desktop (empty: every window).
  virtual std::u16string SightNote() = 0;
  // Binds `window_class` to Profile(); what to tell the user (a refusal, a moved binding), or
  // nothing.
  virtual std::u16string Add(const std::u16string& window_class) = 0;
  virtual void Remove(const BindingRow& row) = 0;
};

class CMS_1_Bindings : public WindowImplBase {
 public:
  explicit CMS_1_Bindings(BindingsModel& model) : model_(model) {}
  // Creates the dialog over `owner`, centred, and runs it until it is closed.
  UINT Run(HWND owner) { return RunModal(owner, "MS_1_Bindings"); }

 protected:
  const char16_t* GetWindowClassName() const override { return u"MS_1_Bindings"; }
  CDuiString GetSkinFile() override { return "bindings.xml"; }
  void InitWindow() override;
  void Notify(TNotifyUI& msg) override;
  void OnClick(TNotifyUI& msg) override;

 private:
  void FillRows();
  void Say(const std::u16string& text);
  void Add();

  BindingsModel& model_;
  std::vector<BindingRow> rows_;
  std::vector<std::u16string> open_;
  CListUI* list_ = nullptr;
  CComboUI* open_combo_ = nullptr;
  CControlUI *edit_ = nullptr, *note_ = nullptr;
};

}  // namespace brevak
