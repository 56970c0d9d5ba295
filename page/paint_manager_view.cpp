#include "page/paint_manager_view.h"

namespace brevak {

void PaintManagerView::SetVisible(std::string_view control, bool visible) {
  if (CControlUI* c = Find(control)) c->SetVisible(visible);
}

void PaintManagerView::SetCheck(std::string_view control, bool checked) {
  if (auto* c = dynamic_cast<COptionUI*>(Find(control))) c->Selected(checked, false);
}

void PaintManagerView::SetText(std::string_view control, std::u16string_view text) {
  if (CControlUI* c = Find(control)) c->SetText(CDuiString(text));
}

void PaintManagerView::SetResourceText(std::string_view control, std::string_view key) {
  if (CControlUI* c = Find(control)) c->SetResourceText(CDuiString(key));
}

void PaintManagerView::SetProgress(std::string_view control, int value) {
  if (auto* c = dynamic_cast<CProgressUI*>(Find(control))) c->SetValue(value);
}

void PaintManagerView::SelectOption(std::string_view control) {
  if (auto* c = dynamic_cast<COptionUI*>(Find(control))) c->Selected(true, false);
}

void PaintManagerView::SelectItem(std::string_view control, int index) {
  if (auto* c = dynamic_cast<CListBaseUI*>(Find(control))) c->SelectItem(index, false, false);
}

}  // namespace brevak
