#include "app/tray_battery.h"

#include <QColor>
#include <QIcon>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <algorithm>

#include "model/device_values.h"
#include "platform/format.h"
#include "platform/text.h"

namespace brevak {

namespace {

constexpr char16_t kSeparator[] = u" \u00B7 ";
constexpr int kIconSize = 64;  // drawn at this size; the tray scales it

std::u16string Percent(int percent) { return Format(u"%d%%", percent); }

}  // namespace

TrayBatteryLook TrayLookOf(const PowerState& power) {
  TrayBatteryLook look;
  const bool answering = power.link != Transport::kNone;
  look.charging = answering && power.charge == PowerState::Charge::kCharging;
  const int percent = answering && power.charge == PowerState::Charge::kFull ? 100 : power.percent;
  if (percent >= 0) {
    look.step = int(std::lower_bound(std::begin(kBatteryStepTops), std::end(kBatteryStepTops), percent) -
                    std::begin(kBatteryStepTops));
    look.step = std::min(look.step, kBatterySteps - 1);
  }
  look.stale = !answering && look.step >= 0;
  return look;
}

std::u16string TrayToolTip(const PowerState& power) {
  std::u16string tip = LanguageText(u"mouse_name_text");
  auto add = [&](const std::u16string& part) { tip += kSeparator + part; };
  if (power.link == Transport::kNone) {
    if (!power.present) {
      add(LanguageText(u"tray_no_mouse_text"));
      return tip;
    }
    if (power.percent >= 0) add(Format(LanguageText(u"battery_last_text"), power.percent));
    add(LanguageText(u"tray_asleep_text"));
    return tip;
  }
  switch (power.charge) {
    case PowerState::Charge::kCharging: add(LanguageText(u"charging_text")); break;
    case PowerState::Charge::kFull:
      add(Percent(100));
      add(LanguageText(u"tray_charged_text"));
      break;
    default:
      if (power.percent >= 0) add(Percent(power.percent));
      break;
  }
  add(LanguageText(Utf8ToUtf16(ShortLinkKey(power.link))));
  return tip;
}

QIcon TrayIconWithBattery(const QIcon& base, const TrayBatteryLook& look) {
  if (look.step < 0 && !look.charging) return base;
  QPixmap pixmap = base.pixmap(kIconSize, kIconSize);
  if (pixmap.isNull()) {
    pixmap = QPixmap(kIconSize, kIconSize);
    pixmap.fill(Qt::transparent);
  }
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  // A battery across the lower third, with its terminal on the right.
  const QRectF body(6, 40, 46, 20);
  const QRectF terminal(body.right(), body.top() + 6, 5, body.height() - 12);
  p.setPen(QPen(QColor(0x0b, 0x0d, 0x12), 5));
  p.setBrush(QColor(0x0b, 0x0d, 0x12));
  p.drawRoundedRect(body.adjusted(-1, -1, 1, 1), 4, 4);
  const QColor edge = look.stale ? QColor(0x8a, 0x90, 0x9c) : QColor(0xe8, 0xec, 0xf2);
  p.setPen(QPen(edge, 2.5));
  p.setBrush(Qt::NoBrush);
  p.drawRoundedRect(body, 4, 4);
  p.setPen(Qt::NoPen);
  p.setBrush(edge);
  p.drawRoundedRect(terminal, 1.5, 1.5);
  if (look.step >= 0) {
    // The empty step still shows a sliver, in red, so a dying battery is seen.
    const double fill = std::max(look.step, 0) / double(kBatterySteps - 1);
    const QRectF inner = body.adjusted(4, 4, -4, -4);
    QRectF level = inner;
    level.setWidth(std::max(3.0, inner.width() * fill));
    QColor color = look.step <= 1 ? QColor(0xf0, 0x4a, 0x3a) : QColor(0x3c, 0xd6, 0x7c);
    if (look.stale) color = QColor(0x6a, 0x70, 0x7c);
    p.setBrush(color);
    p.drawRect(level);
  }
  if (look.charging) {
    QPainterPath bolt;
    const double cx = body.center().x(), top = body.top() - 3, bottom = body.bottom() + 3;
    bolt.moveTo(cx + 3, top);
    bolt.lineTo(cx - 7, body.center().y() + 1);
    bolt.lineTo(cx, body.center().y() + 1);
    bolt.lineTo(cx - 3, bottom);
    bolt.lineTo(cx + 7, body.center().y() - 1);
    bolt.lineTo(cx, body.center().y() - 1);
    bolt.closeSubpath();
    p.setPen(QPen(QColor(0x0b, 0x0d, 0x12), 1.5));
    p.setBrush(QColor(0xff, 0xd4, 0x3a));
    p.drawPath(bolt);
  }
  p.end();
  return QIcon(pixmap);
}

}  // namespace brevak
