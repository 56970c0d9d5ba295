// The colour picker: a saturation (x) / value (y) square for the current hue over a hue bar.
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QWidget>
#include <algorithm>

#include "ui/control.h"

namespace brevak {

class CColorPaletteWidget : public QWidget {
 public:
  explicit CColorPaletteWidget(CColorPaletteUI* owner) : owner_(owner) {
    setMinimumSize(120, 60);
    setCursor(Qt::CrossCursor);
  }

  void SetColor(DWORD argb) {
    exact_ = argb | 0xFF000000u;
    QColor c = QColor::fromRgb(QRgb(exact_));
    float h, s, v;
    c.getHsvF(&h, &s, &v);
    if (h >= 0) hue_ = h;  // grey keeps the hue it had
    sat_ = s;
    val_ = v;
    has_exact_ = true;
    update();
  }

  DWORD Color() const {
    if (has_exact_) return exact_;
    return DWORD(QColor::fromHsvF(hue_, sat_, val_).rgb()) | 0xFF000000u;
  }

 protected:
  static constexpr int kBar = 12, kGap = 4;

  QRect Square() const { return QRect(0, 0, width(), std::max(1, height() - kBar - kGap)); }
  QRect Bar() const { return QRect(0, height() - kBar, width(), kBar); }

  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    QRect sq = Square();
    QLinearGradient sat(sq.topLeft(), sq.topRight());
    sat.setColorAt(0, Qt::white);
    sat.setColorAt(1, QColor::fromHsvF(hue_, 1, 1));
    p.fillRect(sq, sat);
    QLinearGradient val(sq.topLeft(), sq.bottomLeft());
    val.setColorAt(0, QColor(0, 0, 0, 0));
    val.setColorAt(1, Qt::black);
    p.fillRect(sq, val);
    QRect bar = Bar();
    QLinearGradient hues(bar.topLeft(), bar.topRight());
    for (int i = 0; i <= 6; ++i) hues.setColorAt(i / 6.0, QColor::fromHsvF(std::min(i / 6.0, 0.9999), 1, 1));
    p.fillRect(bar, hues);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(val_ > 0.5 ? Qt::black : Qt::white, 1.5));
    p.drawEllipse(QPointF(sq.left() + sat_ * (sq.width() - 1), sq.top() + (1 - val_) * (sq.height() - 1)), 4, 4);
    p.setPen(QPen(Qt::white, 2));
    int hx = bar.left() + int(hue_ * (bar.width() - 1));
    p.drawLine(hx, bar.top(), hx, bar.bottom());
  }

  void mousePressEvent(QMouseEvent* e) override {
    dragging_bar_ = e->position().y() >= Square().bottom() + 1;
    Pick(e->position());
  }
  void mouseMoveEvent(QMouseEvent* e) override {
    if (e->buttons() & Qt::LeftButton) Pick(e->position());
  }
  void mouseReleaseEvent(QMouseEvent*) override { owner_->Notify("colorchangedbuttonup"); }

 private:
  void Pick(QPointF pos) {
    if (dragging_bar_) {
      hue_ = std::clamp(float(pos.x() / std::max(1, width() - 1)), 0.0f, 0.9999f);
    } else {
      QRect sq = Square();
      sat_ = std::clamp(float((pos.x() - sq.left()) / std::max(1, sq.width() - 1)), 0.0f, 1.0f);
      val_ = 1 - std::clamp(float((pos.y() - sq.top()) / std::max(1, sq.height() - 1)), 0.0f, 1.0f);
    }
    has_exact_ = false;
    update();
    owner_->Notify("colorchanged");
  }

  CColorPaletteUI* owner_;
  float hue_ = 0, sat_ = 0, val_ = 0;
  DWORD exact_ = 0xFF000000u;
  bool has_exact_ = true;
  bool dragging_bar_ = false;
};

CColorPaletteUI::CColorPaletteUI() : CControlUI(static_cast<QWidget*>(nullptr)) {
  SetWidget(new CColorPaletteWidget(this));
}

CColorPaletteWidget* CColorPaletteUI::palette() const {
  return static_cast<CColorPaletteWidget*>(widget_.data());
}

void CColorPaletteUI::SetSelectColor(DWORD argb) {
  if (palette()) palette()->SetColor(argb);
}

DWORD CColorPaletteUI::GetSelectColor() const {
  return palette() ? palette()->Color() : 0xFF000000u;
}

}  // namespace brevak
