// The skin's SVG pictures as our reader draws them, against the SVG library's rendering of the
// same files (linked here only), at their own size and at the sizes icons are asked for; and
// files the reader cannot draw, which read as null pictures.
#include <gtest/gtest.h>

#include <QDir>
#include <QGuiApplication>
#include <QPainter>
#include <QSvgRenderer>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdlib>

#include "ui/svg_image.h"

namespace brevak {
namespace {

const QString kSkinDir = QStringLiteral(BREVAK_SKIN_DIR);

// Both draw through QPainter with the same calls and match exactly today; another Qt may land an
// anti-aliased edge a level apart.
constexpr int kChannelTolerance = 2;

QImage LibraryRendering(const QString& file, QSize size) {
  QSvgRenderer renderer(file);
  if (size.isEmpty()) size = renderer.defaultSize();
  QImage image(size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  renderer.render(&p);
  return image;
}

int WorstChannel(const QImage& a, const QImage& b) {
  int worst = 0;
  for (int y = 0; y < a.height(); ++y) {
    for (int x = 0; x < a.width(); ++x) {
      const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
      worst = std::max({worst, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                        std::abs(qBlue(p) - qBlue(q)), std::abs(qAlpha(p) - qAlpha(q))});
    }
  }
  return worst;
}

TEST(SvgImage, EverySkinPictureLooksAsTheLibraryDrawsIt) {
  const QStringList files = QDir(kSkinDir).entryList({QStringLiteral("*.svg")}, QDir::Files);
  ASSERT_FALSE(files.isEmpty()) << kSkinDir.toStdString();
  for (const QString& name : files) {
    const QString file = kSkinDir + u'/' + name;
    for (QSize size : {QSize(), QSize(16, 16), QSize(32, 32), QSize(128, 128)}) {
      SCOPED_TRACE(name.toStdString() + " at " + std::to_string(size.width()));
      const QImage ours = ReadSvgImage(file, size);
      const QImage theirs = LibraryRendering(file, size);
      ASSERT_FALSE(ours.isNull());
      ASSERT_EQ(ours.size(), theirs.size());
      EXPECT_LE(WorstChannel(ours, theirs), kChannelTolerance);
      // Something is drawn: a file read as nothing would match an empty rendering too.
      QImage empty(ours.size(), ours.format());
      empty.fill(Qt::transparent);
      EXPECT_NE(ours, empty);
    }
  }
}

TEST(SvgImage, IconsAndPixmapsAreTheSamePictures) {
  const QString file = kSkinDir + QStringLiteral("/brevak.svg");
  const QIcon icon = SkinIcon(file);
  ASSERT_FALSE(icon.isNull());
  for (int side : {16, 64}) {
    EXPECT_EQ(icon.pixmap(side, side).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied),
              ReadSvgImage(file, QSize(side, side)));
  }
  EXPECT_EQ(ReadSkinPixmap(file).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied), ReadSvgImage(file));
}

TEST(SvgImage, WhatCannotBeDrawnReadsAsNull) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  struct Case {
    const char* name;
    const char* text;
    bool drawn;
  } cases[] = {
      {"not_xml.svg", "this is not a picture", false},
      {"other_root.svg", "<html width=\"4\" height=\"4\"/>", false},
      {"unclosed.svg", "<svg width=\"4\" height=\"4\"><path d=\"M0 0 L4 4\"", false},
      {"no_size.svg", "<svg><path d=\"M0 0 L4 4\"/></svg>", false},
      // A path breaks off at an error or a command the reader does not draw; what came
      // before it is drawn.
      {"bad_path.svg", "<svg width=\"4\" height=\"4\"><path d=\"M0 0 L4 4 L x\"/></svg>", true},
      {"arc.svg", "<svg width=\"4\" height=\"4\"><path d=\"M0 0 L4 0 L4 4 A1 1 0 0 1 0 4\"/></svg>", true},
      {"unknown_gradient.svg", "<svg width=\"4\" height=\"4\"><rect width=\"4\" height=\"4\" fill=\"url(#x)\"/></svg>", true},
      // Sizes a damaged file may say: no image of gigabytes, no non-finite numbers.
      {"huge.svg", "<svg width=\"20000\" height=\"20000\"/>", false},
      {"nan_size.svg", "<svg width=\"nan\" height=\"inf\"/>", false},
      {"tiny_box.svg", "<svg width=\"4\" height=\"4\" viewBox=\"0 0 1e-300 1e-300\"/>", false},
      {"odd_corners.svg", "<svg width=\"4\" height=\"4\"><rect width=\"4\" height=\"4\" rx=\"nan\" ry=\"-3\"/></svg>", true},
  };
  EXPECT_TRUE(ReadSvgImage(dir.filePath("missing.svg")).isNull());
  EXPECT_TRUE(ReadSkinPixmap(dir.filePath("missing.svg")).isNull());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QFile f(dir.filePath(c.name));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(c.text);
    f.close();
    const QImage image = ReadSvgImage(f.fileName());
    EXPECT_EQ(!image.isNull(), c.drawn);
    if (c.drawn) {
      EXPECT_EQ(image.size(), QSize(4, 4));
    }
  }
}

}  // namespace
}  // namespace brevak

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QGuiApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
