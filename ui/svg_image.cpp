#include "ui/svg_image.h"

#include <QFile>
#include <QFileInfo>
#include <QIconEngine>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QXmlStreamReader>
#include <algorithm>
#include <cmath>
#include <map>
#include <optional>
#include <vector>

#include "ui/dui_string.h"

namespace brevak {
namespace {

// What an SVG renderer starts from: black fill, no stroke, a 1-wide pen with flat caps and
// miter joins limited at 4.
constexpr double kDefaultMiterLimit = 4;
// Rounded corners are drawn as whole percentages of the half side, as the SVG library does.
constexpr double kCornerPercentScale = 100;
// The largest side a drawing may say it has: the skin's pictures are icons, and a damaged file
// must not make the cache allocate an image of gigabytes.
constexpr double kMaxSide = 4096;

struct Paint {
  enum Kind { kNone, kColor, kGradient } kind = kNone;
  QColor color;
  QString gradient;  // the id of a <linearGradient>
};

// Presentation attributes, inherited down the tree.
struct Style {
  Paint fill{Paint::kColor, QColor(Qt::black), {}};
  Paint stroke;
  double stroke_width = 1;
  double miter_limit = kDefaultMiterLimit;
  double fill_opacity = 1;
  double stroke_opacity = 1;
  Qt::PenCapStyle cap = Qt::FlatCap;
  Qt::PenJoinStyle join = Qt::SvgMiterJoin;
  Qt::FillRule fill_rule = Qt::WindingFill;
};

struct Gradient {
  QPointF start{0, 0}, stop{1, 0};
  bool user_space = false;
  QGradientStops stops;
};

enum class Shape { kPath, kRect, kEllipse, kLine, kPolyline, kPolygon };

struct Item {
  Shape shape = Shape::kPath;
  Style style;
  QPainterPath path;
  QRectF rect;
  int rx = 0, ry = 0;  // kRect: corner radii in percent of the half side
  QLineF line;
  QPolygonF points;
};

struct Drawing {
  QSizeF size;
  QRectF view_box;
  std::vector<Item> items;
  std::map<QString, Gradient> gradients;
};

// Numbers as SVG writes them: "12", "-3.5", ".5", "1e-3", separated by spaces or commas or
// nothing at all ("1-2" is two numbers).
class NumberReader {
 public:
  explicit NumberReader(QStringView s) : s_(s) {}
  void SkipSeparators() {
    while (i_ < s_.size() && (s_[i_].isSpace() || s_[i_] == u',')) ++i_;
  }
  bool AtNumber() {
    SkipSeparators();
    if (i_ >= s_.size()) return false;
    const QChar c = s_[i_];
    return c.isDigit() || c == u'-' || c == u'+' || c == u'.';
  }
  std::optional<double> Number() {
    if (!AtNumber()) return std::nullopt;
    const qsizetype start = i_;
    if (s_[i_] == u'-' || s_[i_] == u'+') ++i_;
    bool digits = false;
    while (i_ < s_.size() && s_[i_].isDigit()) ++i_, digits = true;
    if (i_ < s_.size() && s_[i_] == u'.') {
      ++i_;
      while (i_ < s_.size() && s_[i_].isDigit()) ++i_, digits = true;
    }
    if (!digits) return std::nullopt;
    if (i_ < s_.size() && (s_[i_] == u'e' || s_[i_] == u'E')) {
      qsizetype e = i_ + 1;
      if (e < s_.size() && (s_[e] == u'-' || s_[e] == u'+')) ++e;
      if (e < s_.size() && s_[e].isDigit()) {
        i_ = e;
        while (i_ < s_.size() && s_[i_].isDigit()) ++i_;
      }
    }
    bool ok = false;
    const double v = s_.sliced(start, i_ - start).toDouble(&ok);
    return ok ? std::optional<double>(v) : std::nullopt;
  }
  // The next command letter, or 0 at the end or before anything that is not a letter.
  QChar Command() {
    SkipSeparators();
    if (i_ >= s_.size() || !s_[i_].isLetter()) return QChar();
    return s_[i_++];
  }
  bool AtEnd() {
    SkipSeparators();
    return i_ >= s_.size();
  }

 private:
  QStringView s_;
  qsizetype i_ = 0;
};

double ToNumber(QStringView s, double fallback = 0) {
  s = s.trimmed();
  if (s.endsWith(u"px")) s.chop(2);
  bool ok = false;
  const double v = s.toDouble(&ok);
  return ok && std::isfinite(v) ? v : fallback;
}

// A number or a percentage, as gradient coordinates and stop offsets are written.
double ToFraction(QStringView s, double fallback) {
  s = s.trimmed();
  if (s.isEmpty()) return fallback;
  if (s.endsWith(u'%')) return ToNumber(s.chopped(1), fallback * 100) / 100;
  return ToNumber(s, fallback);
}

std::optional<QColor> ToColor(QStringView s) {
  const QColor c = QColor::fromString(s.trimmed());
  if (!c.isValid()) return std::nullopt;
  return c;
}

Paint ToPaint(QStringView s, const Paint& inherited) {
  s = s.trimmed();
  if (s == u"none") return {};
  if (s.startsWith(u"url(")) {
    qsizetype close = s.indexOf(u')');
    QStringView ref = s.sliced(4, (close < 0 ? s.size() : close) - 4).trimmed();
    if (ref.startsWith(u'#')) ref = ref.sliced(1);
    return {Paint::kGradient, {}, ref.toString()};
  }
  if (auto c = ToColor(s)) return {Paint::kColor, *c, {}};
  return inherited;  // an unknown value leaves what the parent gave
}

void ApplyAttribute(Style& style, QStringView name, QStringView value) {
  if (name == u"fill") {
    style.fill = ToPaint(value, style.fill);
  } else if (name == u"stroke") {
    style.stroke = ToPaint(value, style.stroke);
  } else if (name == u"stroke-width") {
    style.stroke_width = ToNumber(value, style.stroke_width);
  } else if (name == u"fill-opacity") {
    style.fill_opacity = qBound(0.0, ToNumber(value, 1), 1.0);
  } else if (name == u"stroke-opacity") {
    style.stroke_opacity = qBound(0.0, ToNumber(value, 1), 1.0);
  } else if (name == u"stroke-miterlimit") {
    style.miter_limit = ToNumber(value, style.miter_limit);
  } else if (name == u"fill-rule") {
    style.fill_rule = value.trimmed() == u"evenodd" ? Qt::OddEvenFill : Qt::WindingFill;
  } else if (name == u"stroke-linecap") {
    value = value.trimmed();
    style.cap = value == u"round" ? Qt::RoundCap : value == u"square" ? Qt::SquareCap : Qt::FlatCap;
  } else if (name == u"stroke-linejoin") {
    value = value.trimmed();
    style.join = value == u"round" ? Qt::RoundJoin : value == u"bevel" ? Qt::BevelJoin : Qt::SvgMiterJoin;
  }
}

// An element's presentation attributes and its style="a: b; c: d" on top of its parent's.
Style StyleOf(const QXmlStreamAttributes& attributes, const Style& parent) {
  Style style = parent;
  for (const QXmlStreamAttribute& a : attributes) ApplyAttribute(style, a.name(), a.value());
  const QStringView inline_style = attributes.value(QLatin1StringView("style"));
  for (QStringView declaration : inline_style.split(u';', Qt::SkipEmptyParts)) {
    const qsizetype colon = declaration.indexOf(u':');
    if (colon > 0) ApplyAttribute(style, declaration.first(colon).trimmed(), declaration.sliced(colon + 1));
  }
  return style;
}

// Path data: moves, lines, cubic and quadratic curves, absolute and relative. Anything else
// ends the path where it stands, as a renderer does at an error.
QPainterPath ParsePath(QStringView data, const QString& file) {
  QPainterPath path;
  NumberReader in(data);
  QPointF current, start, last_control;
  char16_t previous = 0;  // the last command drawn, in upper case
  for (QChar command = in.Command(); !command.isNull(); command = in.Command()) {
    const bool relative = command.isLower();
    char16_t c = command.toUpper().unicode();
    if (c == u'Z') {
      path.closeSubpath();
      current = start;
      previous = c;
      continue;
    }
    const int count = c == u'M' || c == u'L' || c == u'T' ? 2
                      : c == u'H' || c == u'V'             ? 1
                      : c == u'C'                          ? 6
                      : c == u'S' || c == u'Q'             ? 4
                                                           : 0;
    if (count == 0) {
      DUI__Trace(u"svg: path command " + std::u16string(1, command.unicode()) + u" not drawn in " +
                 CDuiString(file).str());
      return path;
    }
    do {  // a command repeats while numbers follow
      double n[6];
      for (int k = 0; k < count; ++k) {
        const auto v = in.Number();
        if (!v) {
          DUI__Trace(u"svg: bad path data in " + CDuiString(file).str());
          return path;
        }
        n[k] = *v;
      }
      const QPointF base = relative ? current : QPointF();
      auto pt = [&](int k) { return base + QPointF(n[k], n[k + 1]); };
      const bool smooth_cubic = previous == u'C' || previous == u'S';
      const bool smooth_quad = previous == u'Q' || previous == u'T';
      switch (c) {
        case u'M':
          current = start = pt(0);
          path.moveTo(current);
          break;
        case u'L':
          current = pt(0);
          path.lineTo(current);
          break;
        case u'H':
          current.setX(base.x() + n[0]);
          path.lineTo(current);
          break;
        case u'V':
          current.setY(base.y() + n[0]);
          path.lineTo(current);
          break;
        case u'C':
          last_control = pt(2);
          current = pt(4);
          path.cubicTo(pt(0), last_control, current);
          break;
        case u'S': {
          const QPointF first = smooth_cubic ? 2 * current - last_control : current;
          last_control = pt(0);
          current = pt(2);
          path.cubicTo(first, last_control, current);
          break;
        }
        case u'Q':
          last_control = pt(0);
          current = pt(2);
          path.quadTo(last_control, current);
          break;
        case u'T':
          last_control = smooth_quad ? 2 * current - last_control : current;
          current = pt(0);
          path.quadTo(last_control, current);
          break;
      }
      previous = c;
      if (c == u'M') c = u'L';  // pairs after a move are lines
    } while (in.AtNumber());
  }
  if (!in.AtEnd()) DUI__Trace(u"svg: bad path data in " + CDuiString(file).str());
  return path;
}

QPolygonF ParsePoints(QStringView s) {
  QPolygonF points;
  NumberReader in(s);
  while (true) {
    auto x = in.Number();
    if (!x) break;
    auto y = in.Number();
    if (!y) break;
    points << QPointF(*x, *y);
  }
  return points;
}

double Attr(const QXmlStreamAttributes& a, const char* name, double fallback = 0) {
  const QLatin1StringView key(name);
  return a.hasAttribute(key) ? ToNumber(a.value(key), fallback) : fallback;
}

std::optional<Item> ShapeOf(QStringView tag, const QXmlStreamAttributes& a, const Style& style, const QString& file) {
  Item item;
  item.style = style;
  if (tag == u"path") {
    item.shape = Shape::kPath;
    item.path = ParsePath(a.value(QLatin1StringView("d")), file);
  } else if (tag == u"rect") {
    item.shape = Shape::kRect;
    item.rect = QRectF(Attr(a, "x"), Attr(a, "y"), Attr(a, "width"), Attr(a, "height"));
    if (item.rect.isEmpty()) return std::nullopt;
    double rx = std::max(0.0, Attr(a, "rx")), ry = std::max(0.0, Attr(a, "ry"));
    rx = std::min(rx, item.rect.width() / 2);
    ry = std::min(ry, item.rect.height() / 2);
    if (rx && !ry) ry = rx;
    else if (ry && !rx) rx = ry;
    item.rx = int(rx * (kCornerPercentScale / (item.rect.width() / 2)));
    item.ry = int(ry * (kCornerPercentScale / (item.rect.height() / 2)));
  } else if (tag == u"circle" || tag == u"ellipse") {
    item.shape = Shape::kEllipse;
    const double rx = tag == u"circle" ? Attr(a, "r") : Attr(a, "rx");
    const double ry = tag == u"circle" ? rx : Attr(a, "ry");
    item.rect = QRectF(Attr(a, "cx") - rx, Attr(a, "cy") - ry, 2 * rx, 2 * ry);
  } else if (tag == u"line") {
    item.shape = Shape::kLine;
    item.line = QLineF(Attr(a, "x1"), Attr(a, "y1"), Attr(a, "x2"), Attr(a, "y2"));
  } else if (tag == u"polyline" || tag == u"polygon") {
    item.shape = tag == u"polyline" ? Shape::kPolyline : Shape::kPolygon;
    item.points = ParsePoints(a.value(QLatin1StringView("points")));
  } else {
    return std::nullopt;
  }
  return item;
}

std::optional<Drawing> Parse(const QString& file) {
  QFile f(file);
  if (!f.open(QIODevice::ReadOnly)) {
    DUI__Trace(u"svg: cannot read " + CDuiString(file).str());
    return std::nullopt;
  }
  QXmlStreamReader xml(&f);
  Drawing d;
  std::vector<Style> styles{Style{}};
  int defs_depth = 0;         // inside <defs>: nothing is drawn
  Gradient* gradient = nullptr;  // the <linearGradient> being read
  bool seen_root = false;
  while (!xml.atEnd()) {
    const auto token = xml.readNext();
    if (token == QXmlStreamReader::EndElement) {
      if (xml.name() == u"defs") --defs_depth;
      if (xml.name() == u"linearGradient") gradient = nullptr;
      styles.pop_back();
      continue;
    }
    if (token != QXmlStreamReader::StartElement) continue;
    const QStringView tag = xml.name();
    const QXmlStreamAttributes a = xml.attributes();
    styles.push_back(StyleOf(a, styles.back()));
    if (!seen_root) {
      if (tag != u"svg") break;
      seen_root = true;
      d.size = QSizeF(Attr(a, "width"), Attr(a, "height"));
      const QPolygonF box = ParsePoints(a.value(QLatin1StringView("viewBox")));
      if (box.size() == 2) d.view_box = QRectF(box[0], QSizeF(box[1].x(), box[1].y()));
      if (d.size.isEmpty()) d.size = d.view_box.size();
    } else if (tag == u"defs") {
      ++defs_depth;
    } else if (tag == u"linearGradient") {
      const QString id = a.value(QLatin1StringView("id")).toString();
      gradient = &d.gradients[id];
      gradient->start = QPointF(ToFraction(a.value(QLatin1StringView("x1")), 0), ToFraction(a.value(QLatin1StringView("y1")), 0));
      gradient->stop = QPointF(ToFraction(a.value(QLatin1StringView("x2")), 1), ToFraction(a.value(QLatin1StringView("y2")), 0));
      gradient->user_space = a.value(QLatin1StringView("gradientUnits")) == u"userSpaceOnUse";
    } else if (tag == u"stop") {
      if (!gradient) continue;
      double offset = qBound(0.0, ToFraction(a.value(QLatin1StringView("offset")), 0), 1.0);
      if (!gradient->stops.isEmpty()) offset = std::max(offset, gradient->stops.last().first);
      QColor color = ToColor(a.value(QLatin1StringView("stop-color"))).value_or(QColor(Qt::black));
      if (a.hasAttribute(QLatin1StringView("stop-opacity"))) {
        color.setAlphaF(float(color.alphaF() * qBound(0.0, ToNumber(a.value(QLatin1StringView("stop-opacity")), 1), 1.0)));
      }
      gradient->stops.append({offset, color});
    } else if (defs_depth == 0) {
      if (auto item = ShapeOf(tag, a, styles.back(), file)) d.items.push_back(std::move(*item));
    }
  }
  const auto sane = [](const QSizeF& s) { return s.width() <= kMaxSide && s.height() <= kMaxSide; };
  const bool box_ok = d.view_box.isEmpty() || (d.view_box.width() > 1e-6 && d.view_box.height() > 1e-6 &&
                                                std::isfinite(d.view_box.left()) && std::isfinite(d.view_box.top()));
  if (xml.hasError() || !seen_root || d.size.isEmpty() || !sane(d.size) || !box_ok) {
    DUI__Trace(u"svg: not a drawing: " + CDuiString(file).str() + u" " + CDuiString(xml.errorString()).str());
    return std::nullopt;
  }
  return d;
}

QBrush BrushOf(const Paint& paint, const Drawing& d) {
  switch (paint.kind) {
    case Paint::kNone:
      return Qt::NoBrush;
    case Paint::kColor:
      return paint.color;
    case Paint::kGradient: {
      auto it = d.gradients.find(paint.gradient);
      if (it == d.gradients.end()) return Qt::NoBrush;
      const Gradient& g = it->second;
      QLinearGradient q(g.start, g.stop);
      q.setInterpolationMode(QGradient::ComponentInterpolation);
      if (!g.user_space) q.setCoordinateMode(QGradient::ObjectMode);
      // A gradient without stops paints transparent black.
      q.setStops(g.stops.isEmpty() ? QGradientStops{{0.0, QColor(0, 0, 0, 0)}} : g.stops);
      return q;
    }
  }
  return Qt::NoBrush;
}

// A shape's fill, then its stroke, each at its own opacity.
template <class DrawFn>
void FillThenStroke(QPainter& p, const Style& s, DrawFn draw) {
  const QPen pen = p.pen();
  const QBrush brush = p.brush();
  const double opacity = p.opacity();
  p.setPen(Qt::NoPen);
  p.setOpacity(opacity * s.fill_opacity);
  draw();
  p.setPen(pen);
  if (pen.style() != Qt::NoPen && pen.brush().style() != Qt::NoBrush && pen.widthF() != 0) {
    p.setOpacity(opacity * s.stroke_opacity);
    p.setBrush(Qt::NoBrush);
    draw();
    p.setBrush(brush);
  }
  p.setOpacity(opacity);
}

void DrawItem(QPainter& p, const Drawing& d, Item item) {
  const Style& s = item.style;
  QPen pen(Qt::NoBrush, 1, Qt::SolidLine, Qt::FlatCap, Qt::SvgMiterJoin);
  pen.setMiterLimit(kDefaultMiterLimit);
  if (s.stroke.kind != Paint::kNone) {
    pen.setBrush(BrushOf(s.stroke, d));
    pen.setWidthF(s.stroke_width);
    pen.setCapStyle(s.cap);
    pen.setJoinStyle(s.join);
    pen.setMiterLimit(s.miter_limit);
  }
  p.setPen(pen);
  p.setBrush(BrushOf(s.fill, d));
  const double opacity = p.opacity();
  switch (item.shape) {
    case Shape::kPath:
      item.path.setFillRule(s.fill_rule);
      FillThenStroke(p, s, [&] { p.drawPath(item.path); });
      break;
    case Shape::kRect:
      FillThenStroke(p, s, [&] {
        if (item.rx || item.ry) p.drawRoundedRect(item.rect, item.rx, item.ry, Qt::RelativeSize);
        else p.drawRect(item.rect);
      });
      break;
    case Shape::kEllipse:
      FillThenStroke(p, s, [&] { p.drawEllipse(item.rect); });
      break;
    case Shape::kPolygon:
      FillThenStroke(p, s, [&] { p.drawPolygon(item.points, s.fill_rule); });
      break;
    case Shape::kLine:
      if (p.pen().widthF() != 0) {
        p.setOpacity(opacity * s.stroke_opacity);
        p.drawLine(item.line);
        p.setOpacity(opacity);
      }
      break;
    case Shape::kPolyline:
      if (p.brush().style() != Qt::NoBrush) {
        p.setPen(Qt::NoPen);
        p.setOpacity(opacity * s.fill_opacity);
        p.drawPolygon(item.points, s.fill_rule);
        p.setPen(pen);
      }
      if (p.pen().widthF() != 0) {
        p.setOpacity(opacity * s.stroke_opacity);
        p.drawPolyline(item.points);
      }
      p.setOpacity(opacity);
      break;
  }
}

void Render(QPainter& p, const Drawing& d, const QRectF& target) {
  p.save();
  const QRectF source = d.view_box.isEmpty() ? QRectF(QPointF(0, 0), d.size) : d.view_box;
  if (source != target && !source.isEmpty()) {
    // The view box stretched over the target.
    const double sx = target.width() / source.width(), sy = target.height() / source.height();
    p.translate(target.x() - source.x() * sx, target.y() - source.y() * sy);
    p.scale(sx, sy);
  }
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::SmoothPixmapTransform);
  for (const Item& item : d.items) DrawItem(p, d, item);
  p.restore();
}

bool IsSvg(const QString& file) { return file.endsWith(QLatin1String(".svg"), Qt::CaseInsensitive); }

// Draws on request; keeps nothing but the file name.
class SvgIconEngine : public QIconEngine {
 public:
  explicit SvgIconEngine(QString file) : file_(std::move(file)) {}
  void paint(QPainter* painter, const QRect& rect, QIcon::Mode, QIcon::State) override {
    if (auto d = Parse(file_)) Render(*painter, *d, rect);
  }
  QPixmap pixmap(const QSize& size, QIcon::Mode, QIcon::State) override {
    return QPixmap::fromImage(ReadSvgImage(file_, size));
  }
  QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override { return size; }
  QIconEngine* clone() const override { return new SvgIconEngine(file_); }
  QString key() const override { return QStringLiteral("brevak_svg"); }

 private:
  QString file_;
};

}  // namespace

QImage ReadSvgImage(const QString& file, QSize size) {
  auto d = Parse(file);
  if (!d) return {};
  if (size.isEmpty()) size = d->size.toSize();
  if (size.isEmpty()) return {};
  QImage image(size, QImage::Format_ARGB32_Premultiplied);
  if (image.isNull()) return {};
  image.fill(Qt::transparent);
  QPainter p(&image);
  Render(p, *d, QRectF(QPointF(0, 0), QSizeF(size)));
  p.end();
  // An image that has been painted on keeps its paint engine, with the rasterizer's buffers
  // (some KB each), for as long as it lives; the pictures live as long as the skin's cache.
  return image.copy();
}

QPixmap ReadSkinPixmap(const QString& file) {
  if (IsSvg(file)) return QPixmap::fromImage(ReadSvgImage(file));
  return QPixmap(file);
}

QIcon SkinIcon(const QString& file) {
  if (IsSvg(file) && QFileInfo::exists(file)) return QIcon(new SvgIconEngine(file));
  return QIcon(file);
}

}  // namespace brevak
