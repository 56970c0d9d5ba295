#include "ui/control.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QValidator>
#include <QSlider>
#include <QTextCursor>
#include <QTextEdit>
#include <QWidget>
#include <atomic>
#include <charconv>

#include "ui/dark_style.h"
#include "ui/paint_manager.h"

namespace brevak {

namespace {

std::string Ascii(std::u16string_view v) {
  std::string s;
  s.reserve(v.size());
  for (char16_t c : v) s.push_back(c < 0x80 ? char(c) : '?');
  return s;
}

bool IsTrue(std::u16string_view v) { return v == u"true" || v == u"1"; }

int ToInt(std::u16string_view v, int fallback = 0) {
  std::string s = Ascii(v);
  int out = fallback;
  const char* b = s.data();
  if (!s.empty() && s[0] == '+') ++b;
  auto [p, ec] = std::from_chars(b, s.data() + s.size(), out);
  return ec == std::errc() ? out : fallback;
}

// "a,b,c,d" as four integers; missing parts are 0.
RECT ToRect(std::u16string_view v) {
  int parts[4] = {0, 0, 0, 0};
  size_t i = 0;
  for (int k = 0; k < 4 && i <= v.size(); ++k) {
    size_t comma = v.find(u',', i);
    parts[k] = ToInt(v.substr(i, comma == std::u16string_view::npos ? v.npos : comma - i));
    if (comma == std::u16string_view::npos) break;
    i = comma + 1;
  }
  return RECT{parts[0], parts[1], parts[2], parts[3]};
}

// "#RRGGBB" or "#AARRGGBB" (also with 0x); 0 when unreadable.
DWORD ToColor(std::u16string_view v) {
  std::string s = Ascii(v);
  if (!s.empty() && s[0] == '#') s.erase(0, 1);
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) s.erase(0, 2);
  unsigned value = 0;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), value, 16);
  if (ec != std::errc() || p != s.data() + s.size()) return 0;
  return s.size() <= 6 ? (0xFF000000u | value) : value;
}

Qt::Alignment ToAlign(std::u16string_view v) {
  Qt::Alignment a = Qt::AlignVCenter;
  if (v.find(u"center") != v.npos) a |= Qt::AlignHCenter;
  else if (v.find(u"right") != v.npos) a |= Qt::AlignRight;
  else a |= Qt::AlignLeft;
  return a;
}

// Turns a pair of a widget's events into notifications of its control: focus in and out
// ("setfocus", "killfocus"), the pointer entering and leaving ("mouseenter", "mouseleave").
class EventNotifier : public QObject {
 public:
  EventNotifier(QObject* parent, CControlUI* control, bool focus)
      : QObject(parent),
        control_(control),
        on_(focus ? QEvent::FocusIn : QEvent::Enter),
        off_(focus ? QEvent::FocusOut : QEvent::Leave),
        on_type_(focus ? "setfocus" : "mouseenter"),
        off_type_(focus ? "killfocus" : "mouseleave") {}
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == on_) control_->Notify(on_type_);
    if (e->type() == off_) control_->Notify(off_type_);
    return false;
  }

 private:
  CControlUI* control_;
  QEvent::Type on_, off_;
  const char* on_type_;
  const char* off_type_;
};


// Sliders and combo boxes inside a scrolling column would change under a passing wheel; they
// take the wheel only once the user has focused them, and hand it on to the column otherwise.
class WheelGuard : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* e) override {
    auto* w = qobject_cast<QWidget*>(watched);
    if (e->type() != QEvent::Wheel || !w || w->hasFocus()) return false;
    if (QWidget* parent = w->parentWidget()) QCoreApplication::sendEvent(parent, e);
    return true;
  }
};

}  // namespace

bool KeySwallower::eventFilter(QObject*, QEvent* e) {
  switch (e->type()) {
    case QEvent::ShortcutOverride:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::InputMethod:
      e->accept();
      return true;
    default:
      return false;
  }
}

void GuardWheel(QWidget* w) {
  w->setFocusPolicy(Qt::StrongFocus);
  w->installEventFilter(new WheelGuard(w));
}

// ---- CControlUI -------------------------------------------------------------------------------

CControlUI::CControlUI() : CControlUI(new QWidget) {
  widget_->setAttribute(Qt::WA_StyledBackground);
}

CControlUI::CControlUI(QWidget* widget) { SetWidget(widget); }

namespace {
uint64_t g_tree_generation = 0;  // the UI thread's own
}  // namespace

uint64_t ControlTreeGeneration() { return g_tree_generation; }
void NoteControlTreeChanged() { ++g_tree_generation; }

CControlUI::~CControlUI() {
  NoteControlTreeChanged();
  if (manager_) manager_->ControlRemoved(this);
  delete widget_.data();
}

QWidget* CControlUI::GetWidget() const { return widget_.data(); }

void CControlUI::SetWidget(QWidget* widget) {
  widget_ = widget;
  if (!widget) return;
  widget->setObjectName(name_.q());
}

void CControlUI::SetName(const CDuiString& name) {
  name_ = name;
  NoteControlTreeChanged();
  if (widget_) widget_->setObjectName(name.q());
}

void CControlUI::SetText(const CDuiString& text) {
  text_ = text;
  text_key_.Empty();
  ApplyText(text);
}

void CControlUI::ApplyText(const CDuiString&) {}

void CControlUI::SetResourceText(const CDuiString& key) {
  text_key_ = key;
  text_ = LanguageText(key);
  ApplyText(text_);
}

void CControlUI::SetToolTip(const CDuiString& text) {
  tooltip_ = text;
  tooltip_key_.Empty();
  if (widget_) widget_->setToolTip(text.q());
}

void CControlUI::SetResourceToolTip(const CDuiString& key) {
  tooltip_key_ = key;
  tooltip_ = LanguageText(key);
  if (widget_) widget_->setToolTip(tooltip_.q());
}

void CControlUI::ReloadText() {
  if (!text_key_.IsEmpty()) {
    text_ = LanguageText(text_key_);
    ApplyText(text_);
  }
  if (!tooltip_key_.IsEmpty()) SetResourceToolTip(tooltip_key_);
}

void CControlUI::SetVisible(bool visible) {
  visible_ = visible;
  if (!widget_) return;
  // A widget without a parent would become a window of its own; it takes its state when placed.
  if (widget_->parentWidget() || !visible) widget_->setVisible(visible);
}

void CControlUI::SetEnabled(bool enabled) {
  enabled_ = enabled;
  if (widget_) widget_->setEnabled(enabled);
}

void CControlUI::SetBkColor(DWORD argb) {
  bk_color_ = argb;
  UpdateSkin();
}

void CControlUI::SetBkImage(const CDuiString& file) {
  bk_image_ = file;
  UpdateSkin();
}

namespace {
// Paints a control's own background colour and image before its widget paints, where the dark
// skin does not draw them (layouts with a style sheet of their own, as the tests' are).
class BkPainter : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* e) override {
    auto* w = qobject_cast<QWidget*>(watched);
    if (e->type() != QEvent::Paint || !w || DarkSkinInstalled()) return false;
    QPainter p(w);
    PaintOwnBackground(&p, w);
    return false;
  }
};
}  // namespace

// Drawn by the application's style under the control's look (ui/dark_style.cpp): a property
// costs nothing, where a style sheet of its own made Qt restyle the widget and its children.
void CControlUI::UpdateSkin() {
  if (!widget_) return;
  const QString painter_name = QStringLiteral("dui_bk_painter");
  if (!DarkSkinInstalled() && !widget_->findChild<QObject*>(painter_name, Qt::FindDirectChildrenOnly)) {
    auto* painter = new BkPainter(widget_);
    painter->setObjectName(painter_name);
    widget_->installEventFilter(painter);
  }
  widget_->setProperty(kBkColorProperty, bk_color_ ? QVariant(uint(bk_color_)) : QVariant());
  widget_->setProperty(kBkImageProperty, bk_image_.IsEmpty() ? QVariant()
                                                             : QVariant(CPaintManagerUI::ResourceFile(bk_image_).q()));
  widget_->update();
}

void CControlUI::SetFixedWidth(int cx) {
  if (widget_ && cx > 0) widget_->setFixedWidth(cx);
}

void CControlUI::SetFixedHeight(int cy) {
  fixed_height_ = cy;
  if (widget_ && cy > 0) widget_->setFixedHeight(cy);
}

RECT CControlUI::GetPos() const {
  if (!widget_) return RECT{};
  QPoint p = widget_->mapTo(widget_->window(), QPoint(0, 0));
  return RECT{p.x(), p.y(), p.x() + widget_->width(), p.y() + widget_->height()};
}

void CControlUI::SetFocus() {
  if (widget_) widget_->setFocus(Qt::OtherFocusReason);
}

CDuiString CControlUI::GetVirtualWnd() const {
  for (const CControlUI* c = this; c; c = c->parent_) {
    if (!c->virtual_wnd_.IsEmpty()) return c->virtual_wnd_;
  }
  return {};
}

void CControlUI::SetManager(CPaintManagerUI* manager, CControlUI* parent) {
  manager_ = manager;
  parent_ = parent;
}

CControlUI* CControlUI::FindControl(std::u16string_view name) {
  return name_.str() == name ? this : nullptr;
}

void CControlUI::IndexNames(std::unordered_map<std::u16string, CControlUI*>& index) {
  if (!name_.IsEmpty()) index.emplace(name_.str(), this);
}

void CControlUI::Notify(const char* type, WPARAM wParam, LPARAM lParam) {
  if (manager_) manager_->SendNotify(this, type, wParam, lParam);
}

void CControlUI::SetAttribute(std::u16string_view name, std::u16string_view value) {
  if (name == u"name") SetName(CDuiString(value));
  else if (name == u"text") SetText(CDuiString(value));
  else if (name == u"resourcetext") SetResourceText(CDuiString(value));
  else if (name == u"tooltip") SetToolTip(CDuiString(value));
  else if (name == u"resourcetooltip") SetResourceToolTip(CDuiString(value));
  else if (name == u"width") SetFixedWidth(ToInt(value));
  else if (name == u"height") SetFixedHeight(ToInt(value));
  else if (name == u"minwidth" && widget_) widget_->setMinimumWidth(ToInt(value));
  else if (name == u"minheight" && widget_) widget_->setMinimumHeight(ToInt(value));
  else if (name == u"maxwidth" && widget_) widget_->setMaximumWidth(ToInt(value));
  else if (name == u"maxheight" && widget_) widget_->setMaximumHeight(ToInt(value));
  else if (name == u"visible") SetVisible(IsTrue(value));
  else if (name == u"enabled") SetEnabled(IsTrue(value));
  else if (name == u"bkcolor") SetBkColor(ToColor(value));
  else if (name == u"bkimage") SetBkImage(CDuiString(value));
  else if (name == u"userdata") SetUserData(CDuiString(value));
  else if (name == u"virtualwnd") SetVirtualWnd(CDuiString(value));
  else if (name == u"float") float_ = IsTrue(value);
  else if (name == u"pos") {
    RECT r = ToRect(value);  // x, y, w, h
    float_pos_ = RECT{r.left, r.top, r.left + r.right, r.top + r.bottom};
    if (float_ && widget_) widget_->setGeometry(r.left, r.top, r.right, r.bottom);
  } else if (name == u"class" && widget_) {
    widget_->setProperty("class", CDuiString(value).q());
  }
}

// ---- Label, buttons ---------------------------------------------------------------------------

CLabelUI::CLabelUI() : CControlUI(new QLabel) {}

QLabel* CLabelUI::label() const { return static_cast<QLabel*>(widget_.data()); }

void CLabelUI::ApplyText(const CDuiString& text) {
  if (label()) label()->setText(text.q());
}

void CLabelUI::SetAttribute(std::u16string_view name, std::u16string_view value) {
  if (name == u"align" && label()) label()->setAlignment(ToAlign(value));
  else if (name == u"wordwrap" && label()) label()->setWordWrap(IsTrue(value));
  else CControlUI::SetAttribute(name, value);
}

CButtonUI::CButtonUI() : CButtonUI(new QPushButton) {
  QObject::connect(button(), &QAbstractButton::clicked, button(), [this] { Notify("click"); });
}

CButtonUI::CButtonUI(QAbstractButton* button) : CControlUI(button) {
  button->setCursor(Qt::PointingHandCursor);
  button->installEventFilter(new EventNotifier(button, this, false));
}

QAbstractButton* CButtonUI::button() const {
  return static_cast<QAbstractButton*>(widget_.data());
}

void CButtonUI::ApplyText(const CDuiString& text) {
  // '&' would become a mnemonic.
  if (button()) button()->setText(text.q().replace(QLatin1Char('&'), QLatin1String("&&")));
}

COptionUI::COptionUI() : COptionUI(new QPushButton) {}

COptionUI::COptionUI(QAbstractButton* b) : CButtonUI(b) {
  b->setCheckable(true);
  Wire();
}

void COptionUI::Wire() {
  auto* b = button();
  auto was = std::make_shared<bool>(false);
  QObject::connect(b, &QAbstractButton::pressed, b, [b, was] { *was = b->isChecked(); });
  QObject::connect(b, &QAbstractButton::clicked, b, [this, was](bool checked) {
    Notify("click");
    if (GetClass() == u"CheckBox") {
      Notify("checkclick", checked ? 1 : 0);
    } else if (checked && !*was) {
      Notify("selectchanged", 1);
    }
  });
}

void COptionUI::SetGroup(const CDuiString& group) {
  if (manager_ && !group_.IsEmpty()) manager_->GetOptionGroup(group_)->removeButton(button());
  group_ = group;
  if (manager_ && !group_.IsEmpty()) manager_->GetOptionGroup(group_)->addButton(button());
}

void COptionUI::SetManager(CPaintManagerUI* manager, CControlUI* parent) {
  if (manager_ != manager && manager_ && !group_.IsEmpty()) {
    manager_->GetOptionGroup(group_)->removeButton(button());
  }
  bool join = manager != manager_ && manager && !group_.IsEmpty();
  CButtonUI::SetManager(manager, parent);
  if (join) manager->GetOptionGroup(group_)->addButton(button());
}

bool COptionUI::IsSelected() const { return button() && button()->isChecked(); }

void COptionUI::Selected(bool selected, bool bTriggerEvent) {
  if (!button()) return;
  bool changed = button()->isChecked() != selected;
  programmatic_ = true;
  button()->setChecked(selected);
  programmatic_ = false;
  if (changed && bTriggerEvent) Notify("selectchanged", selected ? 1 : 0);
}

void COptionUI::SetAttribute(std::u16string_view name, std::u16string_view value) {
  if (name == u"group") SetGroup(CDuiString(value));
  else if (name == u"selected") Selected(IsTrue(value), false);
  else CButtonUI::SetAttribute(name, value);
}

namespace {
// A check box answers a click anywhere on it: the section headers are drawn across the whole
// column, and a click beside their short title must not be lost.
class WholeCheckBox : public QCheckBox {
 protected:
  bool hitButton(const QPoint& pos) const override { return rect().contains(pos); }
};
}  // namespace

CCheckBoxUI::CCheckBoxUI() : COptionUI(new WholeCheckBox) {}

// ---- Edits ------------------------------------------------------------------------------------

CEditUI::CEditUI() : CControlUI(new QLineEdit) {
  auto* e = edit();
  QObject::connect(e, &QLineEdit::textEdited, e, [this] { Notify("textchanged"); });
  QObject::connect(e, &QLineEdit::returnPressed, e, [this] { Notify("return"); });
  e->installEventFilter(new EventNotifier(e, this, true));
}

QLineEdit* CEditUI::edit() const { return static_cast<QLineEdit*>(widget_.data()); }

CDuiString CEditUI::GetText() const { return edit() ? CDuiString(edit()->text()) : text_; }

void CEditUI::ApplyText(const CDuiString& text) {
  if (edit()) edit()->setText(text.q());
}

void CEditUI::SetMaxChar(int n) {
  if (edit() && n > 0) edit()->setMaxLength(n);
}

void CEditUI::SetReadOnly(bool readOnly) {
  if (edit()) edit()->setReadOnly(readOnly);
}

void CEditUI::SetKeyCapture(bool on) {
  auto* e = edit();
  if (!e) return;
  e->setReadOnly(on);
  e->setContextMenuPolicy(on ? Qt::NoContextMenu : Qt::DefaultContextMenu);
  // Found by name: without Q_OBJECT a filter's type cannot be told from other child objects.
  const QString name = QStringLiteral("dui_key_swallower");
  QObject* swallower = e->findChild<QObject*>(name, Qt::FindDirectChildrenOnly);
  if (on && !swallower) {
    swallower = new KeySwallower(e);
    swallower->setObjectName(name);
    e->installEventFilter(swallower);
  }
  if (!on) delete swallower;
}

void CEditUI::SetSel(long start, long end) {
  if (!edit()) return;
  if (start < 0) {
    edit()->deselect();
    return;
  }
  long len = edit()->text().size();
  if (end < 0 || end > len) end = len;
  if (start > end) start = end;
  edit()->setSelection(int(start), int(end - start));
}

namespace {

// Digits only ("numberonly"); without a regular expression, whose engine would be loaded and
// compiled at start-up for this alone.
class DigitsValidator : public QValidator {
 public:
  using QValidator::QValidator;
  State validate(QString& input, int&) const override {
    for (QChar c : input) {
      if (c < QLatin1Char('0') || c > QLatin1Char('9')) return Invalid;
    }
    return Acceptable;
  }
};

}  // namespace

void CEditUI::SetAttribute(std::u16string_view name, std::u16string_view value) {
  if (name == u"maxchar") SetMaxChar(ToInt(value));
  else if (name == u"readonly") SetReadOnly(IsTrue(value));
  else if (name == u"keycapture") SetKeyCapture(IsTrue(value));
  else if (name == u"align" && edit()) edit()->setAlignment(ToAlign(value));
  else if (name == u"numberonly" && edit()) {
    edit()->setValidator(IsTrue(value) ? new DigitsValidator(edit()) : nullptr);
  } else CControlUI::SetAttribute(name, value);
}

CRichEditUI::CRichEditUI() : CControlUI(new QTextEdit) {
  auto* e = edit();
  e->setAcceptRichText(false);
  QObject::connect(e, &QTextEdit::textChanged, e, [this] {
    if (!edit()->property("dui_programmatic").toBool()) Notify("textchanged");
  });
  e->installEventFilter(new EventNotifier(e, this, true));
}

QTextEdit* CRichEditUI::edit() const { return static_cast<QTextEdit*>(widget_.data()); }

CDuiString CRichEditUI::GetText() const {
  return edit() ? CDuiString(edit()->toPlainText()) : text_;
}

void CRichEditUI::ApplyText(const CDuiString& text) {
  if (!edit()) return;
  edit()->setProperty("dui_programmatic", true);
  edit()->setPlainText(text.q());
  edit()->setProperty("dui_programmatic", false);
}

void CRichEditUI::SetSel(long start, long end) {
  if (!edit()) return;
  QTextCursor c = edit()->textCursor();
  long len = edit()->toPlainText().size();
  if (start < 0) {
    c.clearSelection();
  } else {
    if (end < 0 || end > len) end = len;
    if (start > end) start = end;
    c.setPosition(int(start));
    c.setPosition(int(end), QTextCursor::KeepAnchor);
  }
  edit()->setTextCursor(c);
}

void CRichEditUI::GetSel(long& start, long& end) const {
  start = end = 0;
  if (!edit()) return;
  QTextCursor c = edit()->textCursor();
  start = c.selectionStart();
  end = c.selectionEnd();
}

void CRichEditUI::SetReadOnly(bool readOnly) {
  if (edit()) edit()->setReadOnly(readOnly);
}

// ---- Slider, progress -------------------------------------------------------------------------

CSliderUI::CSliderUI() : CControlUI(new QSlider(Qt::Horizontal)) {
  QObject::connect(slider(), &QSlider::valueChanged, slider(), [this] {
    if (!programmatic_) Notify("valuechanged");
  });
  slider()->setCursor(Qt::PointingHandCursor);
  GuardWheel(slider());
}

QSlider* CSliderUI::slider() const { return static_cast<QSlider*>(widget_.data()); }
int CSliderUI::GetValue() const { return slider() ? slider()->value() : 0; }
int CSliderUI::GetMinValue() const { return slider() ? slider()->minimum() : 0; }
int CSliderUI::GetMaxValue() const { return slider() ? slider()->maximum() : 0; }

void CSliderUI::SetValue(int value) {
  if (!slider()) return;
  programmatic_ = true;
  slider()->setValue(value);
  programmatic_ = false;
}

void CSliderUI::SetMinValue(int v) {
  if (!slider()) return;
  programmatic_ = true;
  slider()->setMinimum(v);
  programmatic_ = false;
}

void CSliderUI::SetMaxValue(int v) {
  if (!slider()) return;
  programmatic_ = true;
  slider()->setMaximum(v);
  programmatic_ = false;
}

void CSliderUI::SetChangeStep(int step) {
  if (slider() && step > 0) {
    slider()->setSingleStep(step);
    slider()->setPageStep(step);
  }
}

void CSliderUI::SetAttribute(std::u16string_view name, std::u16string_view value) {
  if (name == u"min") SetMinValue(ToInt(value));
  else if (name == u"max") SetMaxValue(ToInt(value));
  else if (name == u"value") SetValue(ToInt(value));
  else if (name == u"step") SetChangeStep(ToInt(value));
  else CControlUI::SetAttribute(name, value);
}

CProgressUI::CProgressUI() : CControlUI(new QProgressBar) {
  bar()->setTextVisible(false);
  bar()->setRange(0, 100);
  bar()->setValue(0);
}

QProgressBar* CProgressUI::bar() const { return static_cast<QProgressBar*>(widget_.data()); }
int CProgressUI::GetValue() const { return bar() ? bar()->value() : 0; }

void CProgressUI::SetValue(int value) {
  if (!bar()) return;
  bar()->setValue(std::clamp(value, bar()->minimum(), bar()->maximum()));
}

void CProgressUI::SetMinValue(int v) {
  if (bar()) bar()->setMinimum(v);
}
void CProgressUI::SetMaxValue(int v) {
  if (bar()) bar()->setMaximum(v);
}

void CProgressUI::SetAttribute(std::u16string_view name, std::u16string_view value) {
  if (name == u"min") SetMinValue(ToInt(value));
  else if (name == u"max") SetMaxValue(ToInt(value));
  else if (name == u"value") SetValue(ToInt(value));
  else CControlUI::SetAttribute(name, value);
}

// Attribute helpers for containers.cpp.
int UiToInt(std::u16string_view v) { return ToInt(v); }
RECT UiToRect(std::u16string_view v) { return ToRect(v); }
bool UiIsTrue(std::u16string_view v) { return IsTrue(v); }

}  // namespace brevak
