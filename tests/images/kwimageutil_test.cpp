#include "images/kwimageutil.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QPainter>

#include "images/kwimagetestdata.h"

namespace {

QImage Canvas(int w, int h, QRgb fill) {
  QImage canvas(w, h, QImage::Format_ARGB32_Premultiplied);
  canvas.fill(fill);
  return canvas;
}

TEST(ImageUtil, CorruptBytesKeepThePreviousPicture) {
  CKwImageUtil image;
  std::vector<uint8_t> png = EncodeImage(SampleRgba(), "PNG");
  ASSERT_EQ(0, image.Decode(png.data(), static_cast<int>(png.size())));
  std::vector<uint8_t> broken(png.begin(), png.begin() + static_cast<long>(png.size() / 2));
  EXPECT_EQ(-1, image.Decode(broken.data(), static_cast<int>(broken.size())));
  EXPECT_TRUE(image.HasPicture());
  EXPECT_EQ(4, image.Width());
  EXPECT_EQ(3, image.Height());
  EXPECT_FALSE(image.Image().isNull());
}

TEST(ImageUtil, DrawingBlendsExactlyAtTheEndsOfAlpha) {
  CKwImageUtil image;
  std::vector<uint8_t> png = EncodeImage(SampleRgba(), "PNG");
  ASSERT_EQ(0, image.Decode(png.data(), static_cast<int>(png.size())));
  const QRgb background = qRgb(40, 60, 80);
  QImage canvas = Canvas(10, 10, background);
  {
    QPainter p(&canvas);
    image.Draw(&p, 2, 3);
  }
  EXPECT_EQ(qRgb(255, 0, 0), canvas.pixel(2, 4));      // Opaque replaces.
  EXPECT_EQ(background, canvas.pixel(3, 4));           // Transparent leaves alone.
  EXPECT_EQ(qRgb(255, 255, 255), canvas.pixel(5, 4));  // Opaque white.
  QRgb half = canvas.pixel(4, 4);                      // 128 of blue over the ground.
  EXPECT_NEAR(40 * 127 / 255, qRed(half), 2);
  EXPECT_NEAR(60 * 127 / 255, qGreen(half), 2);
  EXPECT_NEAR((255 * 128 + 80 * 127) / 255, qBlue(half), 2);
  EXPECT_EQ(background, canvas.pixel(1, 4));  // Outside the picture.
  EXPECT_EQ(background, canvas.pixel(6, 4));
  EXPECT_EQ(background, canvas.pixel(2, 2));
}

TEST(ImageUtil, DrawingIntoAnotherSizeScalesOverTheWholeRectangle) {
  QImage source(2, 2, QImage::Format_ARGB32);
  source.fill(qRgba(0, 200, 0, 255));
  std::vector<uint8_t> png = EncodeImage(source, "PNG");
  CKwImageUtil image;
  ASSERT_EQ(0, image.Decode(png.data(), static_cast<int>(png.size())));
  QImage canvas = Canvas(40, 40, qRgb(0, 0, 0));
  {
    QPainter p(&canvas);
    image.Draw(&p, 5, 5, 20, 10);
  }
  EXPECT_EQ(qRgb(0, 200, 0), canvas.pixel(5, 5));
  EXPECT_EQ(qRgb(0, 200, 0), canvas.pixel(24, 14));
  EXPECT_EQ(qRgb(0, 0, 0), canvas.pixel(25, 14));
  EXPECT_EQ(qRgb(0, 0, 0), canvas.pixel(24, 15));
}

TEST(ImageUtil, AnImageWithoutPictureDrawsNothing) {
  CKwImageUtil image;
  std::vector<uint8_t> junk(100, 7);
  EXPECT_EQ(-1, image.Decode(junk.data(), 100));
  QImage canvas = Canvas(8, 8, qRgb(9, 9, 9));
  QImage before = canvas;
  {
    QPainter p(&canvas);
    image.Draw(&p, 0, 0, 8, 8);
  }
  EXPECT_EQ(before, canvas);
}

}  // namespace

int main(int argc, char** argv) {
  // Test discovery runs the program without the test environment; without a
  // display the offscreen platform is the only one that can start.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
