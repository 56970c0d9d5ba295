#pragma once
// The page's control effects carried out on the controls of a paint manager, by name.

#include "page/page_view.h"
#include "ui/paint_manager.h"

namespace brevak {

class PaintManagerView : public PageView {
 public:
  explicit PaintManagerView(CPaintManagerUI& pm) : pm_(pm) {}
  void SetVisible(std::string_view control, bool visible) override;
  void SetCheck(std::string_view control, bool checked) override;
  void SetText(std::string_view control, std::u16string_view text) override;
  void SetResourceText(std::string_view control, std::string_view key) override;
  void SetProgress(std::string_view control, int value) override;
  void SelectOption(std::string_view control) override;
  void SelectItem(std::string_view control, int index) override;

 private:
  CControlUI* Find(std::string_view control) const { return pm_.FindControl(CDuiString(control)); }
  CPaintManagerUI& pm_;
};

}  // namespace brevak
