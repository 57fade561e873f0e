#include "images/kwimagedecode.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <cstring>
#include <random>

#include "images/kwembedded.h"
#include "images/kwimagetestdata.h"
#include "images/kwimageutil.h"

namespace {

std::vector<uint8_t> Png(const QImage& image) {
  return EncodeImage(image, "PNG");
}

int Decode(const std::vector<uint8_t>& bytes, KwImagePlanes* planes) {
  return KwDecodeImage(bytes.data(), static_cast<int>(bytes.size()), planes);
}

TEST(ImageDecode, RgbaPngFillsTheThreePlanes) {
  KwImagePlanes planes;
  ASSERT_EQ(0, Decode(Png(SampleRgba()), &planes));
  ASSERT_EQ(4, planes.width);
  ASSERT_EQ(3, planes.height);
  ASSERT_EQ(4u * 3u * 3u, planes.alpha.size());
  // Row 1, columns 0..3.
  auto at = [&](const std::vector<uint8_t>& plane, int x, int c) { return plane[(4 + x) * 3 + c]; };
  for (int c = 0; c < 3; ++c) {
    EXPECT_EQ(255, at(planes.alpha, 0, c));
    EXPECT_EQ(0, at(planes.inverseAlpha, 0, c));
    EXPECT_EQ(0, at(planes.alpha, 1, c));
    EXPECT_EQ(255, at(planes.inverseAlpha, 1, c));
    EXPECT_EQ(128, at(planes.alpha, 2, c));
    EXPECT_EQ(127, at(planes.inverseAlpha, 2, c));
  }
  // Colour plane is blue, green, red.
  EXPECT_EQ(0, at(planes.colour, 0, 0));
  EXPECT_EQ(0, at(planes.colour, 0, 1));
  EXPECT_EQ(255, at(planes.colour, 0, 2));
  EXPECT_EQ(255, at(planes.colour, 2, 0));
  EXPECT_EQ(0, at(planes.colour, 2, 2));
}

TEST(ImageDecode, PicturesWithoutAlphaAreOpaqueWhateverTheirStorage) {
  QImage rgb(5, 2, QImage::Format_RGB32);
  rgb.fill(qRgb(10, 20, 30));
  QImage gray = rgb.convertToFormat(QImage::Format_Grayscale8);
  QImage indexed = rgb.convertToFormat(QImage::Format_Indexed8);
  for (const QImage& image : {rgb, gray, indexed}) {
    KwImagePlanes planes;
    ASSERT_EQ(0, Decode(Png(image), &planes)) << image.format();
    EXPECT_EQ(5, planes.width);
    for (uint8_t a : planes.alpha) ASSERT_EQ(255, a);
    for (uint8_t a : planes.inverseAlpha) ASSERT_EQ(0, a);
  }
  KwImagePlanes planes;
  ASSERT_EQ(0, Decode(Png(rgb), &planes));
  EXPECT_EQ(30, planes.colour[0]);
  EXPECT_EQ(20, planes.colour[1]);
  EXPECT_EQ(10, planes.colour[2]);
}

TEST(ImageDecode, SixteenBitPngIsTakenAsEightBit) {
  QImage deep(3, 3, QImage::Format_RGBA64);
  deep.fill(QColor(200, 100, 50, 255));
  KwImagePlanes planes;
  ASSERT_EQ(0, Decode(Png(deep), &planes));
  EXPECT_EQ(3, planes.width);
  EXPECT_NEAR(50, planes.colour[0], 1);
  EXPECT_NEAR(200, planes.colour[2], 1);
}

TEST(ImageDecode, JpegIsRecognisedByTheLettersAtSixToNine) {
  auto mark = [](const char* letters) {
    std::vector<uint8_t> bytes(16, 0);
    std::memcpy(&bytes[6], letters, 4);
    return KwLooksLikeJpeg(bytes.data(), static_cast<int>(bytes.size()));
  };
  EXPECT_TRUE(mark("JFIF"));
  EXPECT_TRUE(mark("Exif"));
  EXPECT_TRUE(mark("exif"));
  EXPECT_TRUE(mark("EXIF"));
  EXPECT_TRUE(mark("Jxif"));  // Each byte is tested on its own.
  EXPECT_FALSE(mark("jFIF"));
  EXPECT_FALSE(mark("JFIG"));
  EXPECT_FALSE(mark("JPEG"));
  std::vector<uint8_t> shortBytes = {0xFF, 0xD8, 0, 0, 0, 0, 'J', 'F', 'I'};
  EXPECT_FALSE(KwLooksLikeJpeg(shortBytes.data(), static_cast<int>(shortBytes.size())));
}

TEST(ImageDecode, JpegDecodesOpaqueRgb) {
  QImage image(16, 8, QImage::Format_RGB32);
  image.fill(qRgb(0, 128, 255));
  std::vector<uint8_t> jpeg = EncodeImage(image, "JPG", 95);
  ASSERT_GT(jpeg.size(), 10u);
  ASSERT_TRUE(KwLooksLikeJpeg(jpeg.data(), static_cast<int>(jpeg.size())));
  KwImagePlanes planes;
  ASSERT_EQ(0, Decode(jpeg, &planes));
  EXPECT_EQ(16, planes.width);
  EXPECT_EQ(8, planes.height);
  for (uint8_t a : planes.alpha) ASSERT_EQ(255, a);
  EXPECT_NEAR(255, planes.colour[0], 6);
  EXPECT_NEAR(128, planes.colour[1], 6);
  EXPECT_NEAR(0, planes.colour[2], 6);
}

TEST(ImageDecode, EveryTruncationFails) {
  std::vector<uint8_t> png = Png(SampleRgba());
  QImage big(40, 30, QImage::Format_RGB32);
  big.fill(qRgb(1, 2, 3));
  std::vector<uint8_t> jpeg = EncodeImage(big, "JPG", 90);
  for (const std::vector<uint8_t>* whole : {&png, &jpeg}) {
    // Cutting inside the last bytes of a PNG may only lose the IEND trailer,
    // which libpng tolerates; every cut before the picture data must fail.
    size_t limit = whole == &png ? whole->size() - 12 : whole->size() - 2;
    for (size_t n = 0; n < limit; ++n) {
      KwImagePlanes planes;
      ASSERT_EQ(-1, KwDecodeImage(whole->data(), static_cast<int>(n), &planes)) << n;
      ASSERT_TRUE(planes.IsEmpty());
    }
  }
}

TEST(ImageDecode, GarbageAndEmptyInputFail) {
  KwImagePlanes planes;
  EXPECT_EQ(-1, KwDecodeImage(nullptr, 10, &planes));
  std::vector<uint8_t> zeros(64, 0);
  EXPECT_EQ(-1, Decode(zeros, &planes));
  EXPECT_EQ(-1, KwDecodeImage(zeros.data(), 0, &planes));
  EXPECT_EQ(-1, KwDecodeImage(zeros.data(), -5, &planes));
}

TEST(ImageDecode, HugeDeclaredSizeIsRefusedWithoutAllocating) {
  std::vector<uint8_t> png = Png(SampleRgba());
  // IHDR width and height start at byte 16; claim 100000 x 100000.
  std::vector<uint8_t> hostile = png;
  uint8_t big[4] = {0x00, 0x01, 0x86, 0xA0};
  std::memcpy(&hostile[16], big, 4);
  std::memcpy(&hostile[20], big, 4);
  KwImagePlanes planes;
  EXPECT_EQ(-1, Decode(hostile, &planes));
}

// Random byte changes, insertions and cuts in valid pictures must never
// crash or hang; a picture that still decodes has consistent planes.
TEST(ImageDecode, MutationLoopNeverCrashes) {
  QImage image(24, 18, QImage::Format_ARGB32);
  for (int y = 0; y < 18; ++y)
    for (int x = 0; x < 24; ++x) image.setPixel(x, y, qRgba(x * 10, y * 12, 90, (x * y) & 255));
  std::vector<std::vector<uint8_t>> seeds = {Png(image), EncodeImage(image, "JPG", 80)};
  int n = 0;
  const KwEmbeddedImage* table = KwEmbeddedImages(&n);
  if (n > 0) seeds.emplace_back(table[0].bytes, table[0].bytes + table[0].count);
  std::mt19937 random(12345);
  int decoded = 0;
  for (int round = 0; round < 3000; ++round) {
    std::vector<uint8_t> bytes = seeds[static_cast<size_t>(round) % seeds.size()];
    int edits = 1 + static_cast<int>(random() % 6);
    for (int e = 0; e < edits && !bytes.empty(); ++e) {
      size_t at = random() % bytes.size();
      switch (random() % 4) {
        case 0:
          bytes[at] = static_cast<uint8_t>(random());
          break;
        case 1:
          bytes[at] ^= static_cast<uint8_t>(1u << (random() % 8));
          break;
        case 2:
          bytes.insert(bytes.begin() + static_cast<long>(at), static_cast<uint8_t>(random()));
          break;
        default:
          bytes.resize(at);
          break;
      }
    }
    KwImagePlanes planes;
    int result = KwDecodeImage(bytes.data(), static_cast<int>(bytes.size()), &planes);
    ASSERT_TRUE(result == 0 || result == -1);
    if (result == 0) {
      ++decoded;
      size_t expect = static_cast<size_t>(planes.width) * static_cast<size_t>(planes.height) * 3;
      ASSERT_EQ(expect, planes.alpha.size());
      ASSERT_EQ(expect, planes.colour.size());
      ASSERT_EQ(expect, planes.inverseAlpha.size());
    }
  }
  // Some mutations only touch pixel data that still decodes; most do not.
  EXPECT_LT(decoded, 3000);
}

}  // namespace
