#pragma once
// Controls: each is a named object over one Qt widget. The code finds them by name, reads and
// sets their state, and hears from them through notifications ("click", "selectchanged", ...)
// that the window's paint manager hands to its notifiers. Setting a value from code never
// raises a notification, except where a call says so (bTriggerEvent).

#include <QEvent>
#include <QObject>
#include <QPointer>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/winapi.h"
#include "ui/dui_string.h"

class QWidget;
class QBoxLayout;
class QScrollArea;
class QStackedWidget;
class QListWidget;
class QListWidgetItem;
class QComboBox;
class QLabel;
class QAbstractButton;
class QSlider;
class QProgressBar;
class QLineEdit;
class QTextEdit;

namespace brevak {

struct RECT {
  LONG left;
  LONG top;
  LONG right;
  LONG bottom;
};

class CPaintManagerUI;
class CContainerUI;
class CColorPaletteWidget;

// Keeps the wheel from changing `w` until the user has focused it (see control.cpp).
void GuardWheel(QWidget* w);

// An event filter that swallows every key event (and input-method text) of what it is
// installed on, before Qt moves the focus on Tab or a shortcut of the window sees it: for key
// capture fields, and for a whole application while keys belong to a recording.
class KeySwallower : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* e) override;
};

// Counts changes of any control tree: a name set, a control added, removed or deleted. A
// window's index of names is rebuilt when it has moved on.
uint64_t ControlTreeGeneration();

class CControlUI {
 public:
  CControlUI();
  virtual ~CControlUI();
  CControlUI(const CControlUI&) = delete;
  CControlUI& operator=(const CControlUI&) = delete;

  // The layout tag of this kind ("Control", "Button", ...).
  virtual std::u16string_view GetClass() const { return u"Control"; }
  QWidget* GetWidget() const;

  const CDuiString& GetName() const { return name_; }
  void SetName(const CDuiString& name);
  virtual CDuiString GetText() const { return text_; }
  virtual void SetText(const CDuiString& text);
  // Shows the language text of `key`, and again after every LoadLanguage.
  void SetResourceText(const CDuiString& key);
  CDuiString GetResourceText() const { return text_key_; }
  void SetToolTip(const CDuiString& text);
  void SetResourceToolTip(const CDuiString& key);
  CDuiString GetToolTip() const { return tooltip_; }
  bool IsVisible() const { return visible_; }
  virtual void SetVisible(bool visible = true);
  bool IsEnabled() const { return enabled_; }
  void SetEnabled(bool enabled = true);
  // 0xAARRGGBB; 0 removes the background colour.
  void SetBkColor(DWORD argb);
  DWORD GetBkColor() const { return bk_color_; }
  // A file relative to the resource folder (or absolute); empty removes it.
  void SetBkImage(const CDuiString& file);
  CDuiString GetBkImage() const { return bk_image_; }
  void SetUserData(const CDuiString& data) { user_data_ = data; }
  CDuiString GetUserData() const { return user_data_; }
  void SetFixedWidth(int cx);
  void SetFixedHeight(int cy);
  int GetFixedHeight() const { return fixed_height_; }
  // Position in the window's client area (left, top, right, bottom).
  RECT GetPos() const;
  void SetFocus();
  // A layout attribute set from code, as the layout file would set it.
  virtual void SetAttribute(std::u16string_view name, std::u16string_view value);

  CControlUI* GetParent() const { return parent_; }
  CPaintManagerUI* GetManager() const { return manager_; }
  void SetVirtualWnd(const CDuiString& name) { virtual_wnd_ = name; }
  // Its own virtual-window name, or the nearest ancestor's.
  CDuiString GetVirtualWnd() const;
  bool IsFloat() const { return float_; }
  RECT GetFloatPos() const { return float_pos_; }

  // For the library: attaching to a window and its tree, and language reloads.
  virtual void SetManager(CPaintManagerUI* manager, CControlUI* parent);
  virtual void ReloadText();
  virtual CControlUI* FindControl(std::u16string_view name);
  // Adds to `index` every named control of this subtree that FindControl would find first
  // (the one met first in the same order); names already there stay.
  virtual void IndexNames(std::unordered_map<std::u16string, CControlUI*>& index);
  // Sends a notification of this control through its manager (none before it is attached).
  void Notify(const char* type, WPARAM wParam = 0, LPARAM lParam = 0);

 protected:
  // `widget` becomes this control's widget (the control deletes it unless Qt did first);
  // null for controls drawn by their owner (list items).
  explicit CControlUI(QWidget* widget);
  void SetWidget(QWidget* widget);
  virtual void ApplyText(const CDuiString& text);
  void UpdateSkin();

  QPointer<QWidget> widget_;
  CPaintManagerUI* manager_ = nullptr;
  CControlUI* parent_ = nullptr;
  CDuiString name_, text_, text_key_, tooltip_, tooltip_key_, user_data_, virtual_wnd_, bk_image_;
  DWORD bk_color_ = 0;
  bool visible_ = true;
  bool enabled_ = true;
  bool float_ = false;
  RECT float_pos_{};
  int fixed_height_ = 0;
};

class CLabelUI : public CControlUI {
 public:
  CLabelUI();
  std::u16string_view GetClass() const override { return u"Label"; }
  void SetAttribute(std::u16string_view name, std::u16string_view value) override;

 protected:
  void ApplyText(const CDuiString& text) override;
  QLabel* label() const;
};

class CButtonUI : public CControlUI {
 public:
  CButtonUI();
  std::u16string_view GetClass() const override { return u"Button"; }

 protected:
  explicit CButtonUI(QAbstractButton* button);
  void ApplyText(const CDuiString& text) override;
  QAbstractButton* button() const;
};

// A checkable button; options with the same group name select one another out.
class COptionUI : public CButtonUI {
 public:
  COptionUI();
  std::u16string_view GetClass() const override { return u"Option"; }
  void SetAttribute(std::u16string_view name, std::u16string_view value) override;
  void SetManager(CPaintManagerUI* manager, CControlUI* parent) override;
  CDuiString GetGroup() const { return group_; }
  void SetGroup(const CDuiString& group);
  bool IsSelected() const;
  // Selects (others of the group lose it); with bTriggerEvent a "selectchanged" follows.
  void Selected(bool selected, bool bTriggerEvent = true);

 protected:
  explicit COptionUI(QAbstractButton* button);
  void Wire();
  CDuiString group_;
  bool programmatic_ = false;
};

class CCheckBoxUI : public COptionUI {
 public:
  CCheckBoxUI();
  std::u16string_view GetClass() const override { return u"CheckBox"; }
  void SetCheck(bool checked) { Selected(checked, false); }
  bool GetCheck() const { return IsSelected(); }
};

class CEditUI : public CControlUI {
 public:
  CEditUI();
  std::u16string_view GetClass() const override { return u"Edit"; }
  CDuiString GetText() const override;
  void SetAttribute(std::u16string_view name, std::u16string_view value) override;
  void SetMaxChar(int n);
  void SetReadOnly(bool readOnly);
  void SetSel(long start, long end);
  // A field that shows a key caught elsewhere (the Hook library): it takes no typed text, and
  // every key pressed in it, Tab, Enter and Esc too, stays there instead of acting on the window.
  void SetKeyCapture(bool on);

 protected:
  void ApplyText(const CDuiString& text) override;
  QLineEdit* edit() const;
};

class CRichEditUI : public CControlUI {
 public:
  CRichEditUI();
  std::u16string_view GetClass() const override { return u"RichEdit"; }
  CDuiString GetText() const override;
  // Selects characters start..end-1; end -1 selects to the end, start -1 removes the selection.
  void SetSel(long start, long end);
  void GetSel(long& start, long& end) const;
  void SetReadOnly(bool readOnly);

 protected:
  void ApplyText(const CDuiString& text) override;
  QTextEdit* edit() const;
};

class CSliderUI : public CControlUI {
 public:
  CSliderUI();
  std::u16string_view GetClass() const override { return u"Slider"; }
  void SetAttribute(std::u16string_view name, std::u16string_view value) override;
  int GetValue() const;
  void SetValue(int value);
  int GetMinValue() const;
  int GetMaxValue() const;
  void SetMinValue(int v);
  void SetMaxValue(int v);
  void SetChangeStep(int step);

 private:
  QSlider* slider() const;
  bool programmatic_ = false;
};

class CProgressUI : public CControlUI {
 public:
  CProgressUI();
  std::u16string_view GetClass() const override { return u"Progress"; }
  void SetAttribute(std::u16string_view name, std::u16string_view value) override;
  int GetValue() const;
  void SetValue(int value);
  void SetMinValue(int v);
  void SetMaxValue(int v);

 protected:
  void ApplyText(const CDuiString&) override {}

 private:
  QProgressBar* bar() const;
};

class CContainerUI : public CControlUI {
 public:
  ~CContainerUI() override;
  std::u16string_view GetClass() const override { return u"Container"; }
  virtual bool Add(CControlUI* control);  // takes ownership, also when refused (deleted)
  virtual bool AddAt(CControlUI* control, int index);
  virtual bool Remove(CControlUI* control);  // deletes it
  virtual bool RemoveAt(int index);
  virtual void RemoveAll();
  int GetCount() const { return int(items_.size()); }
  CControlUI* GetItemAt(int index) const;
  int GetItemIndex(CControlUI* control) const;
  CControlUI* FindSubControl(const CDuiString& name) const;
  // Scrolls a scrolling container to its end.
  void EndDown();
  void SetAttribute(std::u16string_view name, std::u16string_view value) override;
  void SetManager(CPaintManagerUI* manager, CControlUI* parent) override;
  void ReloadText() override;
  CControlUI* FindControl(std::u16string_view name) override;
  void IndexNames(std::unordered_map<std::u16string, CControlUI*>& index) override;

 protected:
  explicit CContainerUI(bool vertical);
  // For kinds that place their items themselves in `widget`.
  explicit CContainerUI(QWidget* widget);
  virtual void PlaceChild(CControlUI* child, int index);
  virtual void UnplaceChild(CControlUI* child);
  void EnableScroll();

  std::vector<std::unique_ptr<CControlUI>> items_;
  QWidget* content_ = nullptr;
  QBoxLayout* layout_ = nullptr;
  QScrollArea* scroll_ = nullptr;
};

class CVerticalLayoutUI : public CContainerUI {
 public:
  CVerticalLayoutUI() : CContainerUI(true) {}
  std::u16string_view GetClass() const override { return u"VerticalLayout"; }
};

class CHorizontalLayoutUI : public CContainerUI {
 public:
  CHorizontalLayoutUI() : CContainerUI(false) {}
  std::u16string_view GetClass() const override { return u"HorizontalLayout"; }
};

class CTabLayoutUI : public CContainerUI {
 public:
  CTabLayoutUI();
  std::u16string_view GetClass() const override { return u"TabLayout"; }
  void SetAttribute(std::u16string_view name, std::u16string_view value) override;
  // -1 shows no page.
  bool SelectItem(int index);
  int GetCurSel() const { return cur_sel_; }

 protected:
  void PlaceChild(CControlUI* child, int index) override;
  void UnplaceChild(CControlUI* child) override;

 private:
  QStackedWidget* stack() const;
  QWidget* empty_page_ = nullptr;
  int cur_sel_ = 0;
};

// One text item of a list or a combo box.
class CListLabelElementUI : public CControlUI {
 public:
  CListLabelElementUI();
  std::u16string_view GetClass() const override { return u"ListLabelElement"; }
  void SetAttribute(std::u16string_view name, std::u16string_view value) override;
  int GetIndex() const;

 protected:
  void ApplyText(const CDuiString& text) override;
};

// A list row built from a layout: named sub-controls (found with FindSubControl) side by side.
// Only a CListUI holds one.
class CListContainerElementUI : public CContainerUI {
 public:
  CListContainerElementUI() : CContainerUI(false) {}
  std::u16string_view GetClass() const override { return u"ListContainerElement"; }
  int GetIndex() const;
};

// Shared by CListUI and CComboUI: items are CListLabelElementUI (a list also takes
// CListContainerElementUI rows); the selection is an index.
class CListBaseUI : public CContainerUI {
 public:
  using CContainerUI::CContainerUI;
  bool AddAt(CControlUI* control, int index) override;
  bool Add(CControlUI* control) override { return AddAt(control, GetCount()); }
  virtual int GetCurSel() const = 0;
  // With bTriggerEvent an "itemselect" follows (wParam new index, lParam old).
  virtual bool SelectItem(int index, bool bTakeFocus = false, bool bTriggerEvent = true) = 0;
  // A text of an item changed.
  virtual void ItemTextChanged(CListLabelElementUI* item) = 0;

 protected:
  bool programmatic_ = false;
};

class CListUI : public CListBaseUI {
 public:
  CListUI();
  std::u16string_view GetClass() const override { return u"List"; }
  bool AddAt(CControlUI* control, int index) override;
  void SetAttribute(std::u16string_view name, std::u16string_view value) override;
  int GetCurSel() const override;
  bool SelectItem(int index, bool bTakeFocus = false, bool bTriggerEvent = true) override;
  void EnsureVisible(int index);
  void ItemTextChanged(CListLabelElementUI* item) override;

 protected:
  void PlaceChild(CControlUI* child, int index) override;
  void UnplaceChild(CControlUI* child) override;

 private:
  QListWidget* list() const;
  int item_height_ = 0;
  int last_sel_ = -1;
};

class CComboUI : public CListBaseUI {
 public:
  CComboUI();
  std::u16string_view GetClass() const override { return u"Combo"; }
  int GetCurSel() const override;
  bool SelectItem(int index, bool bTakeFocus = false, bool bTriggerEvent = true) override;
  void ItemTextChanged(CListLabelElementUI* item) override;

 protected:
  void PlaceChild(CControlUI* child, int index) override;
  void UnplaceChild(CControlUI* child) override;

 private:
  QComboBox* combo() const;
  int last_sel_ = -1;
};

// A colour picker: saturation and value over a hue bar. The user's drag raises
// "colorchanged", its release "colorchangedbuttonup".
class CColorPaletteUI : public CControlUI {
 public:
  CColorPaletteUI();
  std::u16string_view GetClass() const override { return u"ColorPalette"; }
  // 0xAARRGGBB; the alpha is reported back as 0xFF.
  void SetSelectColor(DWORD argb);
  DWORD GetSelectColor() const;

 private:
  friend class CColorPaletteWidget;
  CColorPaletteWidget* palette() const;
};

}  // namespace brevak
