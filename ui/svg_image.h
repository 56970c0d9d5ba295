#pragma once
// The skin's pictures (res/skin/*.svg) read by the few SVG elements and attributes they use and
// drawn with QPainter as an SVG renderer draws them, so showing them loads no SVG library and
// keeps no library renderer resident. What the reader takes is listed in res/README.md; a file
// outside it reads as a null picture (a warning in the log), never a crash.

#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QString>

namespace brevak {

// `file` drawn at `size`, or at its own size (width and height, else its viewBox) when `size`
// is empty; transparent where nothing is drawn. Null when the file cannot be read or parsed.
QImage ReadSvgImage(const QString& file, QSize size = {});

// A picture of the skin: an SVG file through ReadSvgImage at its own size, anything else
// (PNG, ...) through Qt's image readers.
QPixmap ReadSkinPixmap(const QString& file);

// An icon drawn from `file` at whatever size it is asked for, kept as the file name only, so
// a window's icon holds no pictures between the requests of the window system and the tray.
QIcon SkinIcon(const QString& file);

}  // namespace brevak
