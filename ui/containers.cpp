// Containers, tab pages, lists and combo boxes.
#include <QApplication>
#include <QBoxLayout>
#include <QComboBox>
#include <QListWidget>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedWidget>
#include <algorithm>

#include "ui/control.h"
#include "ui/paint_manager.h"

namespace brevak {

void NoteControlTreeChanged();
int UiToInt(std::u16string_view v);
RECT UiToRect(std::u16string_view v);
bool UiIsTrue(std::u16string_view v);

// ---- CContainerUI -----------------------------------------------------------------------------

CContainerUI::CContainerUI(bool vertical) : CControlUI() {
  content_ = widget_;
  layout_ = vertical ? static_cast<QBoxLayout*>(new QVBoxLayout(content_))
                     : static_cast<QBoxLayout*>(new QHBoxLayout(content_));
  layout_->setContentsMargins(0, 0, 0, 0);
  layout_->setSpacing(0);
}

CContainerUI::CContainerUI(QWidget* widget) : CControlUI(widget) { content_ = widget; }

CContainerUI::~CContainerUI() {
  // Children first, while their widgets still belong to ours.
  while (!items_.empty()) items_.pop_back();
}

bool CContainerUI::Add(CControlUI* control) { return AddAt(control, GetCount()); }

bool CContainerUI::AddAt(CControlUI* control, int index) {
  if (!control) return false;
  index = std::clamp(index, 0, GetCount());
  items_.insert(items_.begin() + index, std::unique_ptr<CControlUI>(control));
  NoteControlTreeChanged();
  control->SetManager(manager_, this);
  PlaceChild(control, index);
  return true;
}

bool CContainerUI::Remove(CControlUI* control) { return RemoveAt(GetItemIndex(control)); }

bool CContainerUI::RemoveAt(int index) {
  if (index < 0 || index >= GetCount()) return false;
  UnplaceChild(items_[size_t(index)].get());
  items_.erase(items_.begin() + index);
  NoteControlTreeChanged();
  return true;
}

void CContainerUI::RemoveAll() {
  while (GetCount() > 0) RemoveAt(GetCount() - 1);
}

CControlUI* CContainerUI::GetItemAt(int index) const {
  return index >= 0 && index < GetCount() ? items_[size_t(index)].get() : nullptr;
}

int CContainerUI::GetItemIndex(CControlUI* control) const {
  for (size_t i = 0; i < items_.size(); ++i) {
    if (items_[i].get() == control) return int(i);
  }
  return -1;
}

CControlUI* CContainerUI::FindSubControl(const CDuiString& name) const {
  for (const auto& item : items_) {
    if (CControlUI* found = item->FindControl(name)) return found;
  }
  return nullptr;
}

CControlUI* CContainerUI::FindControl(std::u16string_view name) {
  if (CControlUI* self = CControlUI::FindControl(name)) return self;
  return FindSubControl(CDuiString(name));
}

void CContainerUI::IndexNames(std::unordered_map<std::u16string, CControlUI*>& index) {
  CControlUI::IndexNames(index);
  for (const auto& item : items_) item->IndexNames(index);
}

void CContainerUI::PlaceChild(CControlUI* child, int index) {
  QWidget* w = child->GetWidget();
  if (!w || !layout_) return;
  if (child->IsFloat()) {
    w->setParent(content_);
    RECT r = child->GetFloatPos();
    w->setGeometry(r.left, r.top, r.right - r.left, r.bottom - r.top);
  } else {
    int at = 0;  // position among the laid-out children
    for (int i = 0; i < index; ++i) {
      if (!items_[size_t(i)]->IsFloat()) ++at;
    }
    layout_->insertWidget(at, w);
  }
  w->setVisible(child->IsVisible());
}

void CContainerUI::UnplaceChild(CControlUI* child) {
  if (layout_ && child->GetWidget()) layout_->removeWidget(child->GetWidget());
}

void CContainerUI::SetManager(CPaintManagerUI* manager, CControlUI* parent) {
  CControlUI::SetManager(manager, parent);
  for (auto& item : items_) item->SetManager(manager, this);
}

void CContainerUI::ReloadText() {
  CControlUI::ReloadText();
  for (auto& item : items_) item->ReloadText();
}

void CContainerUI::EnableScroll() {
  if (scroll_ || !content_ || widget_ != content_) return;
  scroll_ = new QScrollArea;
  scroll_->setWidgetResizable(true);
  scroll_->setFrameShape(QFrame::NoFrame);
  scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  QWidget* inner = content_;
  QString cls = inner->property("class").toString();
  SetWidget(scroll_);
  scroll_->setProperty("class", cls);
  scroll_->setWidget(inner);
  inner->setObjectName(QString());
  inner->setProperty("ui", QStringLiteral("ScrollContent"));
}

void CContainerUI::EndDown() {
  if (!scroll_) return;
  // A section shown a moment ago may not be laid out yet.
  QCoreApplication::sendPostedEvents(content_, QEvent::LayoutRequest);
  if (content_->layout()) content_->layout()->activate();
  // The area sizes its content and sets the bar's range when it handles a layout request; it
  // is asked now, so the end is the end of the new layout and not of the old one.
  QEvent relayout(QEvent::LayoutRequest);
  QCoreApplication::sendEvent(scroll_, &relayout);
  QScrollBar* bar = scroll_->verticalScrollBar();
  bar->setValue(bar->maximum());
}

void CContainerUI::SetAttribute(std::u16string_view name, std::u16string_view value) {
  if (name == u"padding" && layout_) {
    RECT r = UiToRect(value);
    layout_->setContentsMargins(r.left, r.top, r.right, r.bottom);
  } else if (name == u"childpadding" && layout_) {
    layout_->setSpacing(UiToInt(value));
  } else if (name == u"vscrollbar") {
    if (UiIsTrue(value)) EnableScroll();
  } else if (name == u"childalign" && layout_) {
    layout_->setAlignment(value == u"center" ? Qt::AlignHCenter
                          : value == u"right" ? Qt::AlignRight
                                              : Qt::AlignLeft);
  } else if (name == u"childvalign" && layout_) {
    layout_->setAlignment(value == u"vcenter" ? Qt::AlignVCenter
                          : value == u"bottom" ? Qt::AlignBottom
                                               : Qt::AlignTop);
  } else {
    CControlUI::SetAttribute(name, value);
  }
}

// ---- CTabLayoutUI -----------------------------------------------------------------------------

CTabLayoutUI::CTabLayoutUI() : CContainerUI(new QStackedWidget) {
  empty_page_ = new QWidget;
  stack()->addWidget(empty_page_);
}

QStackedWidget* CTabLayoutUI::stack() const { return static_cast<QStackedWidget*>(content_); }

void CTabLayoutUI::PlaceChild(CControlUI* child, int index) {
  if (!child->GetWidget()) return;
  stack()->insertWidget(index + 1, child->GetWidget());
  SelectItem(cur_sel_);
}

void CTabLayoutUI::UnplaceChild(CControlUI* child) {
  if (child->GetWidget()) stack()->removeWidget(child->GetWidget());
}

bool CTabLayoutUI::SelectItem(int index) {
  if (index < -1 || index >= std::max(GetCount(), index < 0 ? 0 : index + 1)) return false;
  cur_sel_ = index;
  if (index < 0 || index >= GetCount()) {
    stack()->setCurrentWidget(empty_page_);
  } else {
    stack()->setCurrentWidget(GetItemAt(index)->GetWidget());
  }
  return true;
}

void CTabLayoutUI::SetAttribute(std::u16string_view name, std::u16string_view value) {
  if (name == u"selectedid") {
    cur_sel_ = UiToInt(value);
    SelectItem(cur_sel_);
  } else {
    CContainerUI::SetAttribute(name, value);
  }
}

// ---- List items -------------------------------------------------------------------------------

CListLabelElementUI::CListLabelElementUI() : CControlUI(static_cast<QWidget*>(nullptr)) {}

void CListLabelElementUI::ApplyText(const CDuiString&) {
  if (auto* list = dynamic_cast<CListBaseUI*>(parent_)) list->ItemTextChanged(this);
}

int CListLabelElementUI::GetIndex() const {
  auto* list = dynamic_cast<CListBaseUI*>(parent_);
  return list ? list->GetItemIndex(const_cast<CListLabelElementUI*>(this)) : -1;
}

void CListLabelElementUI::SetAttribute(std::u16string_view name, std::u16string_view value) {
  if (name == u"height") {
    fixed_height_ = UiToInt(value);
    if (auto* list = dynamic_cast<CListBaseUI*>(parent_)) list->ItemTextChanged(this);
  } else {
    CControlUI::SetAttribute(name, value);
  }
}

int CListContainerElementUI::GetIndex() const {
  auto* list = dynamic_cast<CListBaseUI*>(parent_);
  return list ? list->GetItemIndex(const_cast<CListContainerElementUI*>(this)) : -1;
}

bool CListBaseUI::AddAt(CControlUI* control, int index) {
  if (!dynamic_cast<CListLabelElementUI*>(control)) {
    delete control;  // a list holds text items only
    return false;
  }
  return CContainerUI::AddAt(control, index);
}

// ---- CListUI ----------------------------------------------------------------------------------

CListUI::CListUI() : CListBaseUI(new QListWidget) {
  auto* l = list();
  l->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  l->setSelectionMode(QAbstractItemView::SingleSelection);
  QObject::connect(l, &QListWidget::currentRowChanged, l, [this](int row) {
    int old = last_sel_;
    last_sel_ = row;
    if (!programmatic_ && row >= 0) Notify("itemselect", WPARAM(row), old);
  });
}

QListWidget* CListUI::list() const { return static_cast<QListWidget*>(content_); }

bool CListUI::AddAt(CControlUI* control, int index) {
  if (dynamic_cast<CListContainerElementUI*>(control)) return CContainerUI::AddAt(control, index);
  return CListBaseUI::AddAt(control, index);
}

void CListUI::PlaceChild(CControlUI* child, int index) {
  auto* row = dynamic_cast<CListContainerElementUI*>(child);
  auto* item = new QListWidgetItem(row ? QString() : child->GetText().q());
  int h = child->GetFixedHeight() > 0 ? child->GetFixedHeight() : item_height_;
  if (h > 0) item->setSizeHint(QSize(0, h));
  programmatic_ = true;
  list()->insertItem(index, item);
  // The view shows the row's widget over the item; a click on it still selects the item.
  if (row && row->GetWidget()) {
    row->GetWidget()->setAttribute(Qt::WA_TransparentForMouseEvents);
    list()->setItemWidget(item, row->GetWidget());
  }
  programmatic_ = false;
}

void CListUI::UnplaceChild(CControlUI* child) {
  int row = GetItemIndex(child);
  programmatic_ = true;
  delete list()->takeItem(row);
  last_sel_ = list()->currentRow();
  programmatic_ = false;
}

void CListUI::ItemTextChanged(CListLabelElementUI* element) {
  int row = GetItemIndex(element);
  QListWidgetItem* item = row >= 0 ? list()->item(row) : nullptr;
  if (!item) return;
  item->setText(element->GetText().q());
  int h = element->GetFixedHeight() > 0 ? element->GetFixedHeight() : item_height_;
  if (h > 0) item->setSizeHint(QSize(0, h));
}

int CListUI::GetCurSel() const { return list()->currentRow(); }

bool CListUI::SelectItem(int index, bool bTakeFocus, bool bTriggerEvent) {
  if (index < -1 || index >= GetCount()) return false;
  int old = list()->currentRow();
  programmatic_ = true;
  list()->setCurrentRow(index);
  programmatic_ = false;
  if (bTakeFocus) list()->setFocus();
  if (bTriggerEvent && index != old && index >= 0) Notify("itemselect", WPARAM(index), old);
  return true;
}

void CListUI::EnsureVisible(int index) {
  if (QListWidgetItem* item = list()->item(index)) list()->scrollToItem(item);
}

void CListUI::SetAttribute(std::u16string_view name, std::u16string_view value) {
  if (name == u"itemheight") item_height_ = UiToInt(value);
  else CListBaseUI::SetAttribute(name, value);
}

// ---- CComboUI ---------------------------------------------------------------------------------

CComboUI::CComboUI() : CListBaseUI(new QComboBox) {
  auto* c = combo();
  c->setCursor(Qt::PointingHandCursor);
  GuardWheel(c);
  QObject::connect(c, &QComboBox::activated, c, [this](int index) {
    int old = last_sel_;
    last_sel_ = index;
    if (!programmatic_) Notify("itemselect", WPARAM(index), old);
  });
}

QComboBox* CComboUI::combo() const { return static_cast<QComboBox*>(content_); }

void CComboUI::PlaceChild(CControlUI* child, int index) {
  programmatic_ = true;
  combo()->insertItem(index, child->GetText().q());
  last_sel_ = combo()->currentIndex();
  programmatic_ = false;
}

void CComboUI::UnplaceChild(CControlUI* child) {
  programmatic_ = true;
  combo()->removeItem(GetItemIndex(child));
  last_sel_ = combo()->currentIndex();
  programmatic_ = false;
}

void CComboUI::ItemTextChanged(CListLabelElementUI* element) {
  int row = GetItemIndex(element);
  if (row >= 0) combo()->setItemText(row, element->GetText().q());
}

int CComboUI::GetCurSel() const { return combo()->currentIndex(); }

bool CComboUI::SelectItem(int index, bool bTakeFocus, bool bTriggerEvent) {
  if (index < -1 || index >= GetCount()) return false;
  int old = combo()->currentIndex();
  programmatic_ = true;
  combo()->setCurrentIndex(index);
  last_sel_ = index;
  programmatic_ = false;
  if (bTakeFocus) combo()->setFocus();
  if (bTriggerEvent && index != old && index >= 0) Notify("itemselect", WPARAM(index), old);
  return true;
}

}  // namespace brevak
