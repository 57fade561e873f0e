// Drawing operations and the toolkit font, rendered into images.
#include "baseview/kwdraw.h"

#include <gtest/gtest.h>

#include <QFontInfo>
#include <QFontMetrics>
#include <QImage>

#include "baseview/kwfont.h"

namespace {

QImage Canvas(int w, int h) {
  QImage image(w, h, QImage::Format_RGB32);
  image.fill(Qt::black);
  return image;
}

// Left-most and right-most columns with any non-black pixel.
std::pair<int, int> InkColumns(const QImage& image) {
  int first = -1, last = -1;
  for (int x = 0; x < image.width(); ++x) {
    for (int y = 0; y < image.height(); ++y) {
      if ((image.pixel(x, y) & 0xFFFFFF) != 0) {
        if (first < 0) first = x;
        last = x;
        break;
      }
    }
  }
  return {first, last};
}

TEST(DrawText, LineAlignmentPutsTheInkWhereAsked) {
  KwSetFontCodePageOverride(0);
  const KwRect rect{10, 0, 290, 40};
  int ink[3][2];
  for (int align = 0; align < 3; ++align) {
    QImage image = Canvas(300, 40);
    QPainter p(&image);
    KwDrawTextLine(&p, rect, KwRGB(255, 255, 255), "Tarnwick", 16, align);
    p.end();
    auto cols = InkColumns(image);
    ink[align][0] = cols.first;
    ink[align][1] = cols.second;
    ASSERT_GE(cols.first, 10) << align;
  }
  EXPECT_LT(ink[0][0], 16);
  EXPECT_GT(ink[2][1], 282);
  int centre = (ink[1][0] + ink[1][1]) / 2;
  EXPECT_NEAR(150, centre, 3);
  KwSetFontCodePageOverride(-1);
}

TEST(DrawText, TextIsClippedToItsRectangleAndNullDrawsNothing) {
  QImage image = Canvas(200, 40);
  QPainter p(&image);
  KwDrawTextLine(&p, KwRect{0, 0, 30, 40}, KwRGB(255, 255, 255), "A very long line of text", 16, 0);
  KwDrawTextLine(&p, KwRect{0, 0, 200, 40}, KwRGB(255, 255, 255), nullptr, 16, 0);
  p.end();
  EXPECT_LT(InkColumns(image).second, 30);
}

TEST(DrawText, BlocksWrapAtWordsAndInsideLongWords) {
  KwSetFontCodePageOverride(0);
  int one = KwMeasureTextBlock(1000, "word word word word", 14);
  int narrow = KwMeasureTextBlock(45, "word word word word", 14);
  EXPECT_GT(one, 0);
  EXPECT_GE(narrow, 3 * one);
  // A word longer than the line still wraps instead of running out.
  EXPECT_GE(KwMeasureTextBlock(60, "abcdefghijklmnopqrstuvwxyz", 14), 2 * one);
  EXPECT_EQ(0, KwMeasureTextBlock(100, "", 14));
  // Chinese breaks between characters.
  KwSetFontCodePageOverride(936);
  EXPECT_GE(KwMeasureTextBlock(60,
                               "\xE8\xAF\xB7\xE7\xA8\x8D\xE5\x80\x99\xE8\xAF\xB7\xE7\xA8\x8D"
                               "\xE5\x80\x99\xE8\xAF\xB7\xE7\xA8\x8D\xE5\x80\x99",
                               14),
            2 * one);
  // The drawn height matches the measured one, and nothing lands outside.
  QImage image = Canvas(100, 200);
  QPainter p(&image);
  int drawn = KwDrawTextBlock(&p, KwRect{0, 0, 80, 200}, KwRGB(255, 255, 255),
                              "word word word word", 14, 0);
  p.end();
  KwSetFontCodePageOverride(0);
  EXPECT_EQ(KwMeasureTextBlock(80, "word word word word", 14), drawn);
  KwSetFontCodePageOverride(-1);
}

TEST(DrawText, MeasureGrowsWithTextAndSize) {
  EXPECT_EQ(0, KwMeasureText(14, ""));
  EXPECT_EQ(0, KwMeasureText(14, nullptr));
  int small = KwMeasureText(12, "Install");
  EXPECT_GT(small, 0);
  EXPECT_GT(KwMeasureText(24, "Install"), small);
  EXPECT_GT(KwMeasureText(12, "Install now"), small);
}

TEST(ToolkitFont, FaceFollowsTheCodePage) {
  EXPECT_STREQ("MS Gothic", KwFontForCodePage(932).designFace);
  EXPECT_EQ(kKwShiftJisCharset, KwFontForCodePage(932).charset);
  EXPECT_STREQ("\xE9\xBB\x91\xE4\xBD\x93", KwFontForCodePage(936).designFace);
  EXPECT_EQ(kKwDefaultCharset, KwFontForCodePage(936).charset);
  EXPECT_STREQ("MS Gothic", KwFontForCodePage(0).designFace);
  EXPECT_EQ(kKwAnsiCharset, KwFontForCodePage(0).charset);
  EXPECT_EQ(kKwAnsiCharset, KwFontForCodePage(1252).charset);
  QFont font = KwToolkitFontForCodePage(18, 936);
  EXPECT_EQ(18, font.pixelSize());
  EXPECT_EQ(QFont::Normal, font.weight());
  EXPECT_EQ(12, KwToolkitFontForCodePage(0, 0).pixelSize());
}

TEST(ToolkitFont, ChineseAndJapaneseGlyphsAreCovered) {
  for (int cp : {0, 932, 936}) {
    QFontMetrics metrics(KwToolkitFontForCodePage(16, cp));
    EXPECT_TRUE(metrics.inFontUcs4(0x9ED1)) << cp;  // Hei.
    EXPECT_TRUE(metrics.inFontUcs4(0x3042)) << cp;  // Hiragana a.
    EXPECT_TRUE(metrics.inFontUcs4('T')) << cp;
  }
}

TEST(DrawShapes, TrianglePointsAreInscribed) {
  KwRect r{10, 20, 30, 40};
  auto up = KwTrianglePoints(r, kKwUp);
  EXPECT_EQ((KwPoint{10, 40}), up[0]);
  EXPECT_EQ((KwPoint{20, 20}), up[1]);
  EXPECT_EQ((KwPoint{30, 40}), up[2]);
  auto down = KwTrianglePoints(r, kKwDown);
  EXPECT_EQ((KwPoint{20, 40}), down[2]);
  auto right = KwTrianglePoints(r, kKwRight);
  EXPECT_EQ((KwPoint{30, 30}), right[1]);
  auto left = KwTrianglePoints(r, kKwLeft);
  EXPECT_EQ((KwPoint{10, 30}), left[2]);
}

TEST(DrawShapes, FillsStayInsideTheirRectangles) {
  QImage image = Canvas(60, 60);
  QPainter p(&image);
  KwFillRound(&p, KwRect{10, 10, 50, 50}, KwRGB(0, 255, 0), 16);
  p.end();
  EXPECT_EQ(qRgb(0, 255, 0), image.pixel(30, 30));
  EXPECT_EQ(qRgb(0, 0, 0), image.pixel(10, 10));  // Rounded corner.
  EXPECT_EQ(qRgb(0, 0, 0), image.pixel(50, 30));
  EXPECT_EQ(qRgb(0, 0, 0), image.pixel(9, 30));

  QImage tri = Canvas(40, 40);
  QPainter q(&tri);
  KwFillTriangle(&q, KwRect{0, 0, 40, 40}, KwRGB(255, 0, 0), kKwDown);
  q.end();
  EXPECT_EQ(qRgb(255, 0, 0), tri.pixel(20, 5));
  EXPECT_EQ(qRgb(0, 0, 0), tri.pixel(2, 35));
  EXPECT_EQ(qRgb(0, 0, 0), tri.pixel(38, 35));
}

TEST(DrawShapes, OutlineRunsThroughTheCorners) {
  QImage image = Canvas(40, 40);
  QPainter p(&image);
  KwDrawOutline(&p, KwRect{5, 5, 30, 30}, KwRGB(128, 128, 128), 1);
  p.end();
  for (auto pt : {QPoint(5, 5), QPoint(5, 30), QPoint(30, 30), QPoint(30, 5), QPoint(17, 5)}) {
    EXPECT_EQ(qRgb(128, 128, 128), image.pixel(pt)) << pt.x() << "," << pt.y();
  }
  EXPECT_EQ(qRgb(0, 0, 0), image.pixel(17, 17));
}

TEST(DrawShapes, ColourConversionKeepsRedInTheLowByte) {
  EXPECT_EQ(0x00332211u, KwRGB(0x11, 0x22, 0x33));
  EXPECT_EQ(QColor(0x11, 0x22, 0x33), KwToQColor(KwRGB(0x11, 0x22, 0x33)));
}

}  // namespace

#include <QDir>

#include "images/kwimageutil.h"
#include "images/kwstockimages.h"

namespace {

// A sheet of every operation, English and Chinese, and the stock pictures
// drawn at cell sizes; kept in the build folder for looking at.
TEST(DrawSheet, RendersEveryOperationAndTheStockPictures) {
  QImage sheet(720, 420, QImage::Format_RGB32);
  sheet.fill(QColor(55, 55, 57));
  QPainter p(&sheet);
  const KwColor text = KwRGB(230, 230, 230);
  for (int cp : {0, 936}) {
    KwSetFontCodePageOverride(cp);
    int top = cp == 0 ? 10 : 120;
    const char* line = cp == 0 ? "Install Tarnwick" : "\xE5\xAE\x89\xE8\xA3\x85 Tarnwick";
    for (int align = 0; align < 3; ++align) {
      KwRect r{10, top + align * 28, 350, top + align * 28 + 24};
      KwFillRect(&p, r, KwRGB(27, 27, 27));
      KwDrawTextLine(&p, r, text, line, 16, align);
    }
    const char* block =
        cp == 0 ? "The installer downloads every volume, checks it and unpacks the product."
                : "\xE5\xAE\x89\xE8\xA3\x85\xE7\xA8\x8B\xE5\xBA\x8F\xE4\xB8\x8B\xE8\xBD\xBD\xE6\xAF"
                  "\x8F\xE4\xB8\xAA\xE5\x88\x86\xE5\x8D\xB7\xEF\xBC\x8C\xE6\xA0\xA1\xE9\xAA\x8C\xE5"
                  "\x90\x8E\xE8\xA7\xA3\xE5\x8E\x8B\xE4\xBA\xA7\xE5\x93\x81\xE3\x80\x82";
    KwRect b{370, top, 560, top + 100};
    KwFillRect(&p, b, KwRGB(27, 27, 27));
    int h = KwDrawTextBlock(&p, b, text, block, 14, 0);
    EXPECT_GT(h, 20);
    EXPECT_LE(h, 100);
  }
  KwSetFontCodePageOverride(-1);
  KwDrawLine(&p, 10, 230, 350, 230, KwRGB(229, 230, 235), 1);
  KwDrawOutline(&p, KwRect{10, 240, 60, 270}, KwRGB(128, 128, 128), 1);
  KwFillRound(&p, KwRect{70, 240, 170, 270}, KwRGB(48, 48, 48), 8);
  for (int d = 0; d < 4; ++d) KwFillTriangle(&p, KwRectXYWH(180 + d * 24, 245, 16, 16), text, d);
  // Stock pictures at the sizes cells draw them, over a striped ground so
  // transparency shows.
  for (int x = 0; x < 720; x += 8) p.fillRect(x, 290, 4, 130, QColor(70, 70, 76));
  int x = 10;
  for (int i : {kKwStockCheckOn, kKwStockCheckOff, kKwStockRadioOn, kKwStockRadioOff,
                kKwStockCheck100On, kKwStockCheck100Off, kKwStockSliderThumb}) {
    CKwImageUtil* image = KwCellStockImage(i);
    ASSERT_NE(nullptr, image);
    int w = i <= kKwStockCheckOff                                   ? 40
            : (i >= kKwStockCheck100On && i <= kKwStockCheck100Off) ? 14
                                                                    : 24;
    int hh = i <= kKwStockCheckOff ? 24 : w;
    image->Draw(&p, x, 300, w, hh);
    x += w + 12;
  }
  KwCellStockImage(kKwStockButton101)->Draw(&p, 10, 340, 180, 36);
  KwDrawTextLine(&p, KwRect{10, 340, 190, 376}, KwRGB(255, 255, 255), "Install", 16, 1);
  KwCellStockImage(kKwStockButton102)->Draw(&p, 200, 340, 180, 36);
  KwCellStockImage(kKwStockButton103)->Draw(&p, 390, 340, 140, 50);
  KwCellStockImage(kKwStockButton104)->Draw(&p, 540, 340, 140, 50);
  CIKWImageIcon::Instance()->GetImage(2)->Draw(&p, 400, 290);
  p.end();
  sheet.save(QDir(KW_BUILD_DIR).filePath("tk1-drawing.png"));
  KwReleaseStockImages();
}

}  // namespace
