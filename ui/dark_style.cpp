#include "ui/dark_style.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QProgressBar>
#include <QProxyStyle>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QStyleFactory>
#include <QStyleOption>
#include <QTextEdit>

#include "ui/paint_manager.h"
#include "ui/svg_image.h"

namespace brevak {

namespace {

// The skin's colours, one place.
namespace c {
constexpr QRgb kBackground = 0x111318, kSide = 0x14171d, kCaption = 0x0c0e12, kRule = 0x1f232c;
constexpr QRgb kText = 0xe6e8ee, kBright = 0xf2f4f8, kMuted = 0x8a91a0, kField = 0xb8bfcc, kSoft = 0xc9ced8;
constexpr QRgb kDim = 0x6d7483, kDisabledText = 0x5a6070, kHintText = 0x5d6472;
constexpr QRgb kAccent = 0x1ed2f0, kAccentHover = 0x5fe3f7, kAccentPressed = 0x14a9c4, kOnAccent = 0x061417;
constexpr QRgb kButton = 0x1e222b, kButtonHover = 0x262b36, kButtonPressed = 0x171a21, kButtonBorder = 0x2e3440;
constexpr QRgb kButtonHoverBorder = 0x3b4252, kDisabledButton = 0x181b22, kDisabledBorder = 0x23272f;
constexpr QRgb kPill = 0x1a1e26, kPillHover = 0x1f2430, kLine = 0x3a404c, kFrame = 0x2a2f3a, kSoftFrame = 0x242933;
constexpr QRgb kKey = 0x181b22, kKeyBorder = 0x272c36, kKeyHover = 0x1b232b, kDeep = 0x10262c;
constexpr QRgb kChip = 0x16242a, kChipBorder = 0x1c5560, kEdit = 0x0d0f13, kList = 0x0f1115;
constexpr QRgb kListHover = 0x1c2029, kCaptionHover = 0x222732, kCaptionPressed = 0x2c3240;
constexpr QRgb kTrough = 0x262b35, kScrollHandle = 0x343a46, kStepSelected = 0x1b3a44;
constexpr QRgb kStep = 0xd5dae3, kStepDelay = 0x8a93a3;
}  // namespace c

constexpr int kFontPx = 12;
constexpr char kFontFamily[] = "DejaVu Sans";
constexpr int kScrollBarExtent = 6, kScrollHandleMin = 28, kScrollMargin = 2;
// A list item's text from its edges: the item's padding and the text margin item views keep.
constexpr int kItemTextInset = 8 + 3;
constexpr int kItemWidgetInset = 8;
constexpr int kComboRowHeight = 24;
constexpr int kSliderHandleW = 16, kSliderHandleH = 12, kSliderGroove = 4;
// A check box's indicator: 16 pixels inside a 1-pixel border.
constexpr int kDropDownWidth = 22, kArrowSize = 10, kCheckIndicator = 18, kChevron = 12, kCheckSpacing = 8;

QColor Rgb(QRgb v) { return QColor::fromRgb(v); }

bool Has(const QWidget* w, QLatin1StringView cls) {
  if (!w) return false;
  const QString v = w->property("class").toString();
  if (v.isEmpty()) return false;
  for (QStringView part : QStringView(v).split(u' ', Qt::SkipEmptyParts)) {
    if (part == cls) return true;
  }
  return false;
}
bool Has(const QWidget* w, const char* cls) { return Has(w, QLatin1StringView(cls)); }

// A widget's classes read once, for the many questions one look asks.
class Classes {
 public:
  explicit Classes(const QWidget* w) {
    if (!w) return;
    const QString v = w->property("class").toString();
    for (QStringView part : QStringView(v).split(u' ', Qt::SkipEmptyParts)) parts_.push_back(part.toString());
  }
  bool operator()(const char* cls) const {
    for (const QString& p : parts_) {
      if (p == QLatin1StringView(cls)) return true;
    }
    return false;
  }
  bool empty() const { return parts_.isEmpty(); }

 private:
  QStringList parts_;
};

// A box as the skin draws it: fill, 1-pixel border, corner radius, padding inside the border.
struct Box {
  QColor fill;    // invalid: none
  QColor border;  // invalid: none
  int radius = 0;
  QMargins padding;
};

void DrawBox(QPainter* p, const QRectF& r, const Box& b) {
  if (!b.fill.isValid() && !b.border.isValid()) return;
  p->save();
  p->setRenderHint(QPainter::Antialiasing, b.radius > 0);
  if (b.fill.isValid()) {
    p->setPen(Qt::NoPen);
    p->setBrush(b.fill);
    if (b.radius > 0) p->drawRoundedRect(r, b.radius, b.radius);
    else p->drawRect(r);
  }
  if (b.border.isValid() && b.radius == 0) {
    // Square frames on whole pixels: a stroked rectangle would land its right and bottom
    // edges a pixel outside.
    const QRect q = r.toRect();
    p->fillRect(QRect(q.left(), q.top(), q.width(), 1), b.border);
    p->fillRect(QRect(q.left(), q.bottom(), q.width(), 1), b.border);
    p->fillRect(QRect(q.left(), q.top(), 1, q.height()), b.border);
    p->fillRect(QRect(q.right(), q.top(), 1, q.height()), b.border);
  } else if (b.border.isValid()) {
    p->setBrush(Qt::NoBrush);
    p->setPen(QPen(b.border, 1));
    QRectF in = r.adjusted(0.5, 0.5, -0.5, -0.5);
    if (b.radius > 0) p->drawRoundedRect(in, b.radius - 0.5, b.radius - 0.5);
    else p->drawRect(in);
  }
  p->restore();
}

QRect Inside(const QRect& r, const Box& b) {
  const int bw = b.border.isValid() ? 1 : 0;
  return r.adjusted(bw + b.padding.left(), bw + b.padding.top(), -bw - b.padding.right(),
                    -bw - b.padding.bottom());
}

QPixmap Image(const QString& path) {
  static QHash<QString, QPixmap> cache;  // UI thread only
  auto it = cache.find(path);
  if (it == cache.end()) it = cache.insert(path, ReadSkinPixmap(path));
  return *it;
}

QPixmap SkinImage(const char* file) {
  return Image(CPaintManagerUI::ResourceFile(CDuiString(file)).q());
}

void DrawImage(QPainter* p, const QRect& r, const QPixmap& pix) {
  if (!pix.isNull()) p->drawPixmap(r, pix);
}

// A control's own background colour and image (bkcolor, bkimage).
QColor OwnColor(const QWidget* w) {
  if (!w) return {};
  const uint argb = w->property(kBkColorProperty).toUInt();
  if (!argb) return {};
  return QColor::fromRgba(argb);
}

void DrawOwnImage(QPainter* p, const QWidget* w, const QRect& r) {
  if (!w) return;
  const QString path = w->property(kBkImageProperty).toString();
  if (!path.isEmpty()) DrawImage(p, r, Image(path));
}

bool IsOption(const QWidget* w, const Classes& has) {
  return w && (has("pill") || has("stage") || w->property("ui").toString() == QLatin1String("Option"));
}

struct ButtonLook {
  Box box;
  QColor text;
  bool bold = false;
  bool italic = false;
  Qt::Alignment align = Qt::AlignCenter;
};

ButtonLook LookOfButton(const QStyleOption* opt, const QWidget* w) {
  const Classes has(w);
  const bool enabled = opt->state & QStyle::State_Enabled;
  const bool hover = enabled && (opt->state & QStyle::State_MouseOver);
  const bool pressed = opt->state & QStyle::State_Sunken;
  const bool checked = opt->state & QStyle::State_On;
  ButtonLook l;
  l.box = {Rgb(c::kButton), Rgb(c::kButtonBorder), 6, QMargins(10, 3, 10, 3)};
  l.text = Rgb(c::kText);
  if (hover) l.box = {Rgb(c::kButtonHover), Rgb(c::kButtonHoverBorder), 6, l.box.padding};
  if (pressed) l.box = {Rgb(c::kButtonPressed), Rgb(c::kAccent), 6, l.box.padding};
  if (!enabled) {
    l.text = Rgb(c::kDisabledText);
    l.box.fill = Rgb(c::kDisabledButton);
    l.box.border = Rgb(c::kDisabledBorder);
  }
  if (has("small")) l.box.padding = QMargins(4, 2, 4, 2);
  if (has("primary")) {
    l.box = {Rgb(c::kAccent), Rgb(c::kAccent), 6, l.box.padding};
    if (hover) l.box.fill = l.box.border = Rgb(c::kAccentHover);
    if (pressed) l.box.fill = l.box.border = Rgb(c::kAccentPressed);
    l.text = Rgb(c::kOnAccent);
    l.bold = true;
  }
  if (has("ghost")) {
    l.box.fill = QColor();
    l.box.border = Rgb(c::kLine);
    l.text = Rgb(c::kSoft);
    if (hover) l.box.border = l.text = Rgb(c::kAccent);
    if (pressed) l.box.fill = Rgb(c::kDeep);
  }
  if (has("caption_button")) {
    l.box = {QColor(), QColor(), 0, QMargins()};
    if (hover) l.box.fill = Rgb(c::kCaptionHover);
    if (pressed) l.box.fill = Rgb(c::kCaptionPressed);
  }
  if (has("key")) {
    l.box = {Rgb(c::kKey), Rgb(c::kKeyBorder), 6, QMargins(10, 2, 10, 2)};
    if (hover) l.box = {Rgb(c::kKeyHover), Rgb(c::kAccent), 6, l.box.padding};
    if (pressed) l.box.fill = Rgb(c::kDeep);
    l.align = Qt::AlignLeft | Qt::AlignVCenter;
    if (w && w->property("hint").toBool()) {
      l.text = Rgb(c::kHintText);
      l.italic = true;
    }
  }
  if (has("swatch")) {
    l.box.border = Rgb(hover ? c::kBright : c::kLine);
    if (pressed) l.box.border = Rgb(c::kAccent);
    l.box.radius = 3;
    l.box.padding = QMargins();
  }
  if (IsOption(w, has)) {
    l.box = {Rgb(c::kPill), Rgb(c::kButtonBorder), 13, QMargins(8, 2, 8, 2)};
    l.text = Rgb(c::kField);
    if (pressed) l.box.fill = Rgb(c::kButtonPressed);
    if (hover) {
      l.box.border = Rgb(c::kAccent);
      l.text = Rgb(c::kText);
    }
    if (checked) {
      l.box.fill = l.box.border = Rgb(c::kAccent);
      l.text = Rgb(c::kOnAccent);
      l.bold = true;
    }
    if (has("stage")) {
      l.box.radius = 11;
      l.box.padding = QMargins();
      l.bold = true;
    }
  }
  if (QColor own = OwnColor(w); own.isValid()) l.box.fill = own;
  return l;
}

struct CheckLook {
  Box box;  // the whole control (section headers only)
  Box indicator;
  QPixmap mark;
  int indicator_size = kCheckIndicator;
  QColor text;
  QMargins padding;
};

CheckLook LookOfCheck(const QStyleOption* opt, const QWidget* w) {
  const Classes has(w);
  const bool hover = (opt->state & QStyle::State_Enabled) && (opt->state & QStyle::State_MouseOver);
  const bool checked = opt->state & QStyle::State_On;
  CheckLook l;
  l.text = Rgb(c::kText);
  if (has("muted")) l.text = Rgb(c::kMuted);
  if (has("section")) {
    l.box = {Rgb(c::kPill), Rgb(c::kSoftFrame), 6, QMargins(8, 0, 8, 0)};
    l.text = Rgb(c::kSoft);
    if (hover) {
      l.box.fill = Rgb(c::kPillHover);
      l.text = Rgb(c::kBright);
    }
    if (checked) {
      l.text = Rgb(c::kBright);
      l.box.border = Rgb(c::kChipBorder);
      l.box.fill = Rgb(c::kChip);
    }
    l.indicator_size = kChevron;
    l.mark = SkinImage(checked ? "skin/chevron_down.svg" : "skin/chevron_right.svg");
    return l;
  }
  l.indicator = {Rgb(c::kPill), Rgb(hover ? c::kAccent : c::kLine), 4, {}};
  if (checked) {
    l.indicator.fill = l.indicator.border = Rgb(c::kAccent);
    l.mark = SkinImage("skin/check.svg");
  }
  return l;
}

// Looks of plain widgets by class: panels, chips, previews, key numbers, the indicator.
Box LookOfPanel(const QWidget* w) {
  const Classes has(w);
  Box b;
  if (has("root") || has("dialog") || has("body") || has("page")) b.fill = Rgb(c::kBackground);
  if (has("dialog")) b.border = Rgb(c::kFrame);
  if (has("popup")) b.border = Rgb(c::kLine);
  if (has("side") || has("settings")) b.fill = Rgb(c::kSide);
  if (has("chip")) b = {Rgb(c::kChip), Rgb(c::kChipBorder), 14, {}};
  if (has("key_no")) b = {Rgb(c::kListHover), Rgb(c::kFrame), 11, {}};
  if (has("preview")) b = {QColor(), Rgb(c::kLine), 4, {}};
  if (has("dpi_toast")) b = {Rgb(c::kBackground), Rgb(c::kAccent), 8, {}};
  if (QColor own = OwnColor(w); own.isValid()) b.fill = own;
  return b;
}

void SetTextColor(QWidget* w, QRgb rgb) {
  QPalette pal = w->palette();
  for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) pal.setColor(role, Rgb(rgb));
  w->setPalette(pal);
}

class DarkStyle : public QProxyStyle {
 public:
  DarkStyle() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}

  void polish(QWidget* w) override {
    QProxyStyle::polish(w);
    if (qobject_cast<QAbstractButton*>(w) || qobject_cast<QLineEdit*>(w) || qobject_cast<QComboBox*>(w) ||
        qobject_cast<QSlider*>(w) || qobject_cast<QScrollBar*>(w) || qobject_cast<QAbstractItemView*>(w)) {
      w->setAttribute(Qt::WA_Hover);
    }
    if (auto* view = qobject_cast<QAbstractItemView*>(w)) {
      view->viewport()->setAttribute(Qt::WA_Hover);
      view->setMouseTracking(true);
      QPalette pal = view->palette();
      pal.setColor(QPalette::Base, Rgb(c::kList));
      pal.setColor(QPalette::Text, Rgb(c::kSoft));
      view->setPalette(pal);
    }
    if (auto* area = qobject_cast<QScrollArea*>(w)) {
      if (Has(w, "settings")) {
        QPalette pal = area->palette();
        pal.setColor(QPalette::Window, Rgb(c::kSide));
        area->viewport()->setPalette(pal);
        area->viewport()->setAutoFillBackground(true);
      }
    }
    if (auto* label = qobject_cast<QLabel*>(w); label && Has(w, "wrap")) label->setWordWrap(true);
    if (qobject_cast<QLabel*>(w) && (Has(w, "key_no") || Has(w, "chip"))) w->setAttribute(Qt::WA_StyledBackground);
    if (auto* bar = qobject_cast<QProgressBar*>(w)) bar->setMaximumHeight(8);
    if (auto* slider = qobject_cast<QSlider*>(w)) slider->setMinimumHeight(16);
    if (auto* menu = qobject_cast<QMenu*>(w)) {
      QPalette pal = menu->palette();
      pal.setColor(QPalette::Window, Rgb(c::kPill));
      menu->setPalette(pal);
    }
    ApplyFontAndColour(w);
  }

  void unpolish(QWidget* w) override { QProxyStyle::unpolish(w); }

  // Fonts and text colours by class, as the layout names them.
  static void ApplyFontAndColour(QWidget* w) {
    const Classes has(w);
    if (has.empty()) return;
    QFont f = QApplication::font();
    bool font_set = false;
    auto bold = [&](int px) {
      f.setPixelSize(px);
      f.setBold(true);
      font_set = true;
    };
    if (has("title")) {
      bold(14);
      f.setLetterSpacing(QFont::AbsoluteSpacing, 1);
      SetTextColor(w, c::kBright);
    }
    if (has("subtitle")) SetTextColor(w, c::kDim);
    if (has("muted")) SetTextColor(w, c::kMuted);
    if (has("link")) bold(kFontPx), SetTextColor(w, c::kAccent);
    if (has("field")) SetTextColor(w, c::kField);
    if (has("value")) bold(kFontPx), SetTextColor(w, c::kAccent);
    if (has("notice")) bold(kFontPx), SetTextColor(w, c::kBright);
    if (has("battery_text")) bold(13), SetTextColor(w, c::kBright);
    if (has("key_no")) bold(11), SetTextColor(w, c::kMuted);
    if (has("dialog_title")) bold(14);
    if (has("message")) SetTextColor(w, c::kSoft);
    if (has("dpi_value")) {
      bold(22);
      f.setLetterSpacing(QFont::AbsoluteSpacing, 1);
      SetTextColor(w, c::kAccent);
    }
    if (has("step")) SetTextColor(w, c::kStep);
    if (has("step_delay")) SetTextColor(w, c::kStepDelay);
    if (qobject_cast<QPushButton*>(w)) {
      if (has("small")) f.setPixelSize(11), font_set = true;
      if (has("primary") || has("stage")) f.setBold(true), font_set = true;
      // A key's caption turns from a hint (italic) to a name and back: set either way.
      if (has("key")) f.setItalic(w->property("hint").toBool()), font_set = true;
    }
    if (qobject_cast<QCheckBox*>(w) && has("section")) f.setBold(true), font_set = true;
    if (font_set) w->setFont(f);
  }

  int pixelMetric(PixelMetric m, const QStyleOption* opt, const QWidget* w) const override {
    switch (m) {
      case PM_ScrollBarExtent:
        return kScrollBarExtent;
      case PM_ScrollBarSliderMin:
        return kScrollHandleMin;
      case PM_DefaultFrameWidth:
        if (qobject_cast<const QScrollArea*>(w)) return 0;
        return 1;
      case PM_IndicatorWidth:
      case PM_IndicatorHeight:
        return Has(w, "section") ? kChevron : kCheckIndicator;
      case PM_CheckBoxLabelSpacing:
        return kCheckSpacing;
      case PM_SliderLength:
        return kSliderHandleW;
      case PM_SliderThickness:
      case PM_SliderControlThickness:
        return kSliderHandleH;
      case PM_MenuPanelWidth:
        return 1;
      case PM_MenuHMargin:
      case PM_MenuVMargin:
        return 4;
      case PM_ButtonShiftHorizontal:
      case PM_ButtonShiftVertical:
        return 0;
      case PM_SubMenuOverlap:
        return -1;
      default:
        return QProxyStyle::pixelMetric(m, opt, w);
    }
  }

  int styleHint(StyleHint h, const QStyleOption* opt, const QWidget* w, QStyleHintReturn* r) const override {
    switch (h) {
      case SH_ComboBox_Popup:
        return 0;
      case SH_Menu_Scrollable:
        return 0;
      case SH_ItemView_ShowDecorationSelected:
        return 1;
      case SH_DialogButtonBox_ButtonsHaveIcons:
        return 0;
      default:
        return QProxyStyle::styleHint(h, opt, w, r);
    }
  }

  void drawPrimitive(PrimitiveElement pe, const QStyleOption* opt, QPainter* p, const QWidget* w) const override {
    switch (pe) {
      case PE_Widget: {
        if (qobject_cast<const QPushButton*>(w)) return;
        DrawPanel(p, opt->rect, w);
        return;
      }
      case PE_FrameFocusRect:
        return;  // no focus outlines in the skin
      case PE_PanelLineEdit: {
        DrawBox(p, opt->rect, LineEditBox(opt, w));
        return;
      }
      case PE_FrameLineEdit:
        return;
      case PE_PanelItemViewItem: {
        const auto* v = qstyleoption_cast<const QStyleOptionViewItem*>(opt);
        const bool steps = w && Has(w, "steps");
        if (opt->state & State_Selected) {
          DrawBox(p, opt->rect, {Rgb(steps ? c::kStepSelected : c::kAccent), {}, 4, {}});
        } else if (opt->state & State_MouseOver) {
          DrawBox(p, opt->rect, {Rgb(c::kListHover), {}, 4, {}});
        }
        (void)v;
        return;
      }
      case PE_PanelMenu:
      case PE_FrameMenu:
        DrawBox(p, opt->rect, {Rgb(c::kPill), Rgb(c::kButtonBorder), 6, {}});
        return;
      case PE_PanelTipLabel:
        DrawBox(p, opt->rect, {Rgb(c::kPillHover), Rgb(c::kAccent), 0, {}});
        return;
      case PE_Frame: {
        if (qobject_cast<const QAbstractItemView*>(w)) {
          DrawBox(p, opt->rect, {Rgb(c::kList), Rgb(c::kSoftFrame), 6, {}});
          return;
        }
        if (qobject_cast<const QTextEdit*>(w)) {
          DrawBox(p, opt->rect, {Rgb(c::kEdit), Rgb(w->hasFocus() ? c::kAccent : c::kFrame), 5, {}});
          return;
        }
        return;
      }
      case PE_IndicatorCheckBox: {
        CheckLook l = LookOfCheck(opt, w);
        DrawBox(p, opt->rect, l.indicator);
        DrawImage(p, opt->rect, l.mark);
        return;
      }
      default:
        QProxyStyle::drawPrimitive(pe, opt, p, w);
    }
  }

  void DrawPanel(QPainter* p, const QRect& r, const QWidget* w) const {
    const Classes has(w);
    Box b = LookOfPanel(w);
    if (has("caption")) {
      p->fillRect(r, Rgb(c::kCaption));
      p->fillRect(QRect(r.left(), r.bottom(), r.width(), 1), Rgb(c::kRule));
    } else if (has("side")) {
      p->fillRect(r, Rgb(c::kSide));
      p->fillRect(QRect(r.right(), r.top(), 1, r.height()), Rgb(c::kRule));
    } else {
      DrawBox(p, r, b);
    }
    DrawOwnImage(p, w, r);
  }

  static Box LineEditBox(const QStyleOption* opt, const QWidget* w) {
    const Classes has(w);
    Box b{Rgb(c::kEdit), Rgb(c::kFrame), 5, QMargins(4, 1, 4, 1)};
    if (has("compact")) {
      b.padding = QMargins(2, 0, 2, 0);
      b.radius = 4;
    }
    if (opt->state & State_MouseOver) b.border = Rgb(c::kButtonHoverBorder);
    if (opt->state & State_HasFocus) b.border = Rgb(c::kAccent);
    return b;
  }

  void drawControl(ControlElement ce, const QStyleOption* opt, QPainter* p, const QWidget* w) const override {
    switch (ce) {
      case CE_PushButton: {
        const auto* b = qstyleoption_cast<const QStyleOptionButton*>(opt);
        if (!b) break;
        ButtonLook l = LookOfButton(opt, w);
        DrawBox(p, opt->rect, l.box);
        DrawOwnImage(p, w, opt->rect);
        if (b->text.isEmpty()) return;
        p->save();
        QFont f = w ? w->font() : p->font();
        if (l.bold) f.setBold(true);
        p->setFont(f);
        QPalette pal = opt->palette;
        pal.setColor(QPalette::ButtonText, l.text);
        drawItemText(p, Inside(opt->rect, l.box), int(l.align) | Qt::TextShowMnemonic, pal, true, b->text,
                     QPalette::ButtonText);
        p->restore();
        return;
      }
      case CE_CheckBox: {
        const auto* b = qstyleoption_cast<const QStyleOptionButton*>(opt);
        if (!b) break;
        CheckLook l = LookOfCheck(opt, w);
        DrawBox(p, opt->rect, l.box);
        QRect ind = subElementRect(SE_CheckBoxIndicator, opt, w);
        if (Has(w, "section")) DrawImage(p, ind, l.mark);
        else {
          const QStyleOptionButton at = MakeAt(*b, ind);
          drawPrimitive(PE_IndicatorCheckBox, &at, p, w);
        }
        QPalette pal = opt->palette;
        pal.setColor(QPalette::WindowText, l.text);
        drawItemText(p, subElementRect(SE_CheckBoxContents, opt, w), Qt::AlignLeft | Qt::AlignVCenter, pal, true,
                     b->text, QPalette::WindowText);
        return;
      }
      case CE_ShapedFrame: {
        if (qobject_cast<const QAbstractItemView*>(w) || qobject_cast<const QTextEdit*>(w)) {
          drawPrimitive(PE_Frame, opt, p, w);
          return;
        }
        if (qobject_cast<const QScrollArea*>(w)) {
          if (Has(w, "settings")) p->fillRect(QRect(opt->rect.left(), opt->rect.top(), 1, opt->rect.height()), Rgb(c::kRule));
          return;
        }
        break;
      }
      case CE_ProgressBar: {
        const auto* b = qstyleoption_cast<const QStyleOptionProgressBar*>(opt);
        if (!b) break;
        QRect r = opt->rect;
        DrawBox(p, r, {Rgb(c::kTrough), {}, 4, {}});
        const qint64 span = qint64(b->maximum) - b->minimum;
        if (span > 0 && b->progress > b->minimum) {
          const int wdt = int(qint64(r.width()) * (b->progress - b->minimum) / span);
          DrawBox(p, QRect(r.left(), r.top(), wdt, r.height()), {Rgb(c::kAccent), {}, 4, {}});
        }
        return;
      }
      case CE_ItemViewItem: {
        const auto* v = qstyleoption_cast<const QStyleOptionViewItem*>(opt);
        if (!v) break;
        drawPrimitive(PE_PanelItemViewItem, opt, p, w);
        if (v->text.isEmpty()) return;
        const bool selected = opt->state & State_Selected;
        const bool steps = w && Has(w, "steps");
        p->save();
        p->setFont(v->font);
        p->setPen(Rgb(selected ? (steps ? c::kBright : c::kOnAccent) : c::kSoft));
        QRect tr = opt->rect.adjusted(kItemTextInset, 0, -kItemTextInset, 0);
        p->drawText(tr, int(v->displayAlignment) | Qt::AlignVCenter,
                    v->fontMetrics.elidedText(v->text, Qt::ElideRight, tr.width()));
        p->restore();
        return;
      }
      case CE_MenuItem: {
        const auto* m = qstyleoption_cast<const QStyleOptionMenuItem*>(opt);
        if (!m) break;
        if (m->menuItemType == QStyleOptionMenuItem::Separator) {
          p->fillRect(QRect(opt->rect.left() + 8, opt->rect.center().y(), opt->rect.width() - 16, 1), Rgb(c::kButtonBorder));
          return;
        }
        const bool selected = (opt->state & State_Selected) && (opt->state & State_Enabled);
        if (selected) DrawBox(p, opt->rect, {Rgb(c::kAccent), {}, 4, {}});
        QColor text = Rgb(!(opt->state & State_Enabled) ? c::kDisabledText : selected ? c::kOnAccent : c::kText);
        QRect tr = opt->rect.adjusted(14, 5, -24, -5);
        QString label = m->text;
        const qsizetype tab = label.indexOf(u'\t');
        if (tab >= 0) label.truncate(tab);
        p->save();
        p->setFont(m->font);
        p->setPen(text);
        p->drawText(tr, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextShowMnemonic, label);
        p->restore();
        if (m->menuItemType == QStyleOptionMenuItem::SubMenu) {
          QRect a(opt->rect.right() - kArrowSize + 1, opt->rect.center().y() - kArrowSize / 2 + 1, kArrowSize,
                  kArrowSize);
          DrawImage(p, a, SkinImage("skin/chevron_right.svg"));
        }
        return;
      }
      case CE_MenuEmptyArea:
        return;
      default:
        break;
    }
    QProxyStyle::drawControl(ce, opt, p, w);
  }

  static QStyleOptionButton MakeAt(const QStyleOptionButton& b, const QRect& r) {
    QStyleOptionButton o = b;
    o.rect = r;
    return o;
  }

  QRect subElementRect(SubElement se, const QStyleOption* opt, const QWidget* w) const override {
    switch (se) {
      case SE_CheckBoxIndicator: {
        CheckLook l = LookOfCheck(opt, w);
        QRect in = Inside(opt->rect, l.box);
        return QRect(in.left(), in.top() + (in.height() - l.indicator_size) / 2, l.indicator_size, l.indicator_size);
      }
      case SE_CheckBoxContents: {
        CheckLook l = LookOfCheck(opt, w);
        QRect in = Inside(opt->rect, l.box);
        return in.adjusted(l.indicator_size + kCheckSpacing, 0, 0, 0);
      }
      case SE_ItemViewItemText:  // also where a row's widget stands
        return opt->rect.adjusted(kItemWidgetInset, 0, -kItemWidgetInset, 0);
      case SE_CheckBoxClickRect:
        return opt->rect;
      case SE_CheckBoxFocusRect:
        return {};
      case SE_LineEditContents:
        return Inside(opt->rect, LineEditBox(opt, w));
      case SE_ShapedFrameContents:
        if (qobject_cast<const QAbstractItemView*>(w)) return opt->rect.adjusted(5, 5, -5, -5);
        if (qobject_cast<const QTextEdit*>(w)) return opt->rect.adjusted(3, 3, -3, -3);
        if (qobject_cast<const QScrollArea*>(w)) return Has(w, "settings") ? opt->rect.adjusted(1, 0, 0, 0) : opt->rect;
        break;
      case SE_PushButtonContents:
        return Inside(opt->rect, LookOfButton(opt, w).box);
      case SE_PushButtonFocusRect:
        return {};
      case SE_ProgressBarGroove:
      case SE_ProgressBarContents:
        return opt->rect;
      case SE_ProgressBarLabel:
        return {};
      default:
        break;
    }
    return QProxyStyle::subElementRect(se, opt, w);
  }

  QSize sizeFromContents(ContentsType ct, const QStyleOption* opt, const QSize& s, const QWidget* w) const override {
    switch (ct) {
      case CT_PushButton: {
        Box b = LookOfButton(opt, w).box;
        const int bw = b.border.isValid() ? 2 : 0;
        return s + QSize(b.padding.left() + b.padding.right() + bw, b.padding.top() + b.padding.bottom() + bw);
      }
      case CT_CheckBox: {
        CheckLook l = LookOfCheck(opt, w);
        const int bw = l.box.border.isValid() ? 2 : 0;
        const auto* b = qstyleoption_cast<const QStyleOptionButton*>(opt);
        const int text_w = b && !b->text.isEmpty() ? s.width() - 0 : 0;
        return QSize(l.indicator_size + (text_w ? kCheckSpacing + text_w : 0) + l.box.padding.left() +
                         l.box.padding.right() + bw,
                     std::max(l.indicator_size, s.height()) + bw);
      }
      case CT_LineEdit: {
        Box b = LineEditBox(opt, w);
        return s + QSize(b.padding.left() + b.padding.right() + 2, b.padding.top() + b.padding.bottom() + 2);
      }
      case CT_ComboBox:
        return s + QSize(10 + 10 + 2 + kDropDownWidth, 2 + 2 + 2);
      case CT_MenuItem: {
        const auto* m = qstyleoption_cast<const QStyleOptionMenuItem*>(opt);
        if (m && m->menuItemType == QStyleOptionMenuItem::Separator) return QSize(s.width(), 9);
        const QFontMetrics fm = m ? QFontMetrics(m->font) : opt->fontMetrics;
        QString label = m ? m->text : QString();
        const qsizetype tab = label.indexOf(u'\t');
        if (tab >= 0) label.truncate(tab);
        return QSize(fm.horizontalAdvance(label) + 14 + 24 + 1, fm.height() + 10);
      }
      case CT_ItemViewItem: {
        QSize r = QProxyStyle::sizeFromContents(ct, opt, s, w);
        // The rows of a combo box's open list are as tall as a finger-friendly menu row.
        if (w && w->parentWidget() && w->parentWidget()->inherits("QComboBoxPrivateContainer")) {
          r.setHeight(std::max(r.height(), kComboRowHeight));
        }
        return r;
      }
      default:
        break;
    }
    return QProxyStyle::sizeFromContents(ct, opt, s, w);
  }

  QRect subControlRect(ComplexControl cc, const QStyleOptionComplex* opt, SubControl sc, const QWidget* w) const override {
    switch (cc) {
      case CC_Slider: {
        const auto* s = qstyleoption_cast<const QStyleOptionSlider*>(opt);
        if (!s || s->orientation != Qt::Horizontal) break;
        const QRect r = opt->rect;
        const int cy = r.top() + (r.height() - kSliderGroove) / 2;
        const QRect groove(r.left(), cy, r.width(), kSliderGroove);
        if (sc == SC_SliderGroove) return groove;
        if (sc == SC_SliderHandle) {
          const int pos = sliderPositionFromValue(s->minimum, s->maximum, s->sliderPosition,
                                                  r.width() - kSliderHandleW, s->upsideDown);
          return QRect(r.left() + pos, cy - (kSliderHandleH - kSliderGroove) / 2, kSliderHandleW, kSliderHandleH);
        }
        return {};
      }
      case CC_ScrollBar: {
        const auto* s = qstyleoption_cast<const QStyleOptionSlider*>(opt);
        if (!s) break;
        const bool vertical = s->orientation == Qt::Vertical;
        QRect groove = vertical ? opt->rect.adjusted(0, kScrollMargin, 0, -kScrollMargin)
                                : opt->rect.adjusted(kScrollMargin, 0, -kScrollMargin, 0);
        const int len = vertical ? groove.height() : groove.width();
        const qint64 range = qint64(s->maximum) - s->minimum;
        int handle = range > 0 ? int(qint64(len) * s->pageStep / (range + s->pageStep)) : len;
        handle = std::clamp(handle, std::min(kScrollHandleMin, len), len);
        const int pos = sliderPositionFromValue(s->minimum, s->maximum, s->sliderPosition, len - handle, s->upsideDown);
        const QRect slider = vertical ? QRect(groove.left(), groove.top() + pos, groove.width(), handle)
                                      : QRect(groove.left() + pos, groove.top(), handle, groove.height());
        switch (sc) {
          case SC_ScrollBarGroove:
            return groove;
          case SC_ScrollBarSlider:
            return slider;
          case SC_ScrollBarSubPage:
            return vertical ? QRect(groove.left(), groove.top(), groove.width(), slider.top() - groove.top())
                            : QRect(groove.left(), groove.top(), slider.left() - groove.left(), groove.height());
          case SC_ScrollBarAddPage:
            return vertical ? QRect(groove.left(), slider.bottom() + 1, groove.width(), groove.bottom() - slider.bottom())
                            : QRect(slider.right() + 1, groove.top(), groove.right() - slider.right(), groove.height());
          default:
            return {};
        }
      }
      case CC_ComboBox: {
        const QRect r = opt->rect;
        if (sc == SC_ComboBoxArrow) return QRect(r.right() - kDropDownWidth, r.top(), kDropDownWidth, r.height());
        if (sc == SC_ComboBoxEditField) return r.adjusted(10, 3, -11 - kDropDownWidth, -3);
        if (sc == SC_ComboBoxFrame) return r;
        if (sc == SC_ComboBoxListBoxPopup) return r;
        break;
      }
      default:
        break;
    }
    return QProxyStyle::subControlRect(cc, opt, sc, w);
  }

  void drawComplexControl(ComplexControl cc, const QStyleOptionComplex* opt, QPainter* p, const QWidget* w) const override {
    switch (cc) {
      case CC_Slider: {
        const auto* s = qstyleoption_cast<const QStyleOptionSlider*>(opt);
        if (!s || s->orientation != Qt::Horizontal) break;
        const QRect groove = subControlRect(cc, opt, SC_SliderGroove, w);
        const QRect handle = subControlRect(cc, opt, SC_SliderHandle, w);
        DrawBox(p, groove, {Rgb(c::kFrame), {}, 2, {}});
        const QRect sub(groove.left(), groove.top(), handle.center().x() - groove.left(), groove.height());
        DrawBox(p, sub, {Rgb((opt->state & State_Enabled) ? c::kAccent : c::kLine), {}, 2, {}});
        const bool hover = (opt->state & State_MouseOver) && (s->activeSubControls & SC_SliderHandle);
        p->save();
        p->setRenderHint(QPainter::Antialiasing);
        p->setPen(QPen(Rgb(c::kAccent), 2));
        p->setBrush(Rgb(hover ? c::kAccent : c::kBright));
        p->drawRoundedRect(QRectF(handle).adjusted(1, 1, -1, -1), 5, 5);
        p->restore();
        return;
      }
      case CC_ScrollBar: {
        const auto* s = qstyleoption_cast<const QStyleOptionSlider*>(opt);
        if (!s) break;
        const QRect slider = subControlRect(cc, opt, SC_ScrollBarSlider, w);
        const bool hover = (opt->state & State_MouseOver) && (s->activeSubControls & SC_ScrollBarSlider);
        DrawBox(p, slider, {Rgb(hover ? c::kAccent : c::kScrollHandle), {}, 3, {}});
        return;
      }
      case CC_ComboBox: {
        const auto* cb = qstyleoption_cast<const QStyleOptionComboBox*>(opt);
        if (!cb) break;
        const bool hot = (opt->state & State_Enabled) && (opt->state & (State_MouseOver | State_On));
        DrawBox(p, opt->rect, {Rgb(c::kPill), Rgb(hot ? c::kAccent : c::kButtonBorder), 6, {}});
        const QRect arrow = subControlRect(cc, opt, SC_ComboBoxArrow, w);
        DrawImage(p, QRect(arrow.center().x() - kArrowSize / 2 + 1, arrow.center().y() - kArrowSize / 2 + 1, kArrowSize, kArrowSize),
                  SkinImage("skin/arrow_down.svg"));
        return;
      }
      default:
        break;
    }
    QProxyStyle::drawComplexControl(cc, opt, p, w);
  }

  SubControl hitTestComplexControl(ComplexControl cc, const QStyleOptionComplex* opt, const QPoint& pt,
                                   const QWidget* w) const override {
    if (cc == CC_Slider || cc == CC_ScrollBar) {
      const SubControl parts[] = {cc == CC_Slider ? SC_SliderHandle : SC_ScrollBarSlider,
                                  cc == CC_Slider ? SC_SliderGroove : SC_ScrollBarSubPage,
                                  cc == CC_Slider ? SC_None : SC_ScrollBarAddPage};
      for (SubControl sc : parts) {
        if (sc != SC_None && subControlRect(cc, opt, sc, w).contains(pt)) return sc;
      }
      return cc == CC_ScrollBar ? SC_ScrollBarGroove : SC_None;
    }
    return QProxyStyle::hitTestComplexControl(cc, opt, pt, w);
  }
};

}  // namespace

void PaintOwnBackground(QPainter* p, const QWidget* w) {
  if (QColor own = OwnColor(w); own.isValid()) p->fillRect(w->rect(), own);
  DrawOwnImage(p, w, w->rect());
}

bool DarkSkinInstalled() {
  const QCoreApplication* app = QCoreApplication::instance();
  return app && app->property("dui_dark_skin").toBool();
}

void InstallDarkSkin(QApplication* app) {
  if (!app || app->property("dui_dark_skin").toBool()) return;
  app->setProperty("dui_dark_skin", true);
  QFont font(QString::fromLatin1(kFontFamily));
  font.setPixelSize(kFontPx);
  QApplication::setFont(font);
  QPalette pal;
  for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
    const bool off = g == QPalette::Disabled;
    pal.setColor(g, QPalette::Window, Rgb(c::kBackground));
    pal.setColor(g, QPalette::WindowText, Rgb(off ? c::kDisabledText : c::kText));
    pal.setColor(g, QPalette::Base, Rgb(c::kEdit));
    pal.setColor(g, QPalette::AlternateBase, Rgb(c::kSide));
    pal.setColor(g, QPalette::Text, Rgb(off ? c::kDisabledText : c::kText));
    pal.setColor(g, QPalette::Button, Rgb(c::kButton));
    pal.setColor(g, QPalette::ButtonText, Rgb(off ? c::kDisabledText : c::kText));
    pal.setColor(g, QPalette::Highlight, Rgb(c::kAccent));
    pal.setColor(g, QPalette::HighlightedText, Rgb(c::kOnAccent));
    pal.setColor(g, QPalette::ToolTipBase, Rgb(c::kPillHover));
    pal.setColor(g, QPalette::ToolTipText, Rgb(c::kText));
    pal.setColor(g, QPalette::PlaceholderText, Rgb(c::kMuted));
    pal.setColor(g, QPalette::Link, Rgb(c::kAccent));
  }
  QApplication::setStyle(new DarkStyle);  // the application owns it
  QApplication::setPalette(pal);
}

}  // namespace brevak
