// The registry, the stock tables, the embedded pictures and the image pack.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <thread>

#include "images/ikwlogodatamake.h"
#include "images/kwembedded.h"
#include "images/kwimageregistry.h"
#include "images/kwimagetestdata.h"
#include "images/kwimageutil.h"
#include "images/kwstockimages.h"

namespace {

std::vector<uint8_t> SolidPng(int w, int h, QRgb colour) {
  QImage image(w, h, QImage::Format_ARGB32);
  image.fill(colour);
  return EncodeImage(image, "PNG");
}

TEST(ImageRegistry, FirstRegistrationWinsAndEachRequestDecodesAnew) {
  CKwImageRegistry registry;
  std::vector<uint8_t> first = SolidPng(3, 2, qRgb(1, 2, 3));
  std::vector<uint8_t> second = SolidPng(7, 7, qRgb(4, 5, 6));
  registry.RegisterImage("close.png", first.data(), static_cast<int>(first.size()));
  registry.RegisterImage("close.png", second.data(), static_cast<int>(second.size()));
  first.assign(first.size(), 0);  // The registry holds its own copy.
  EXPECT_EQ(1u, registry.Count());
  std::unique_ptr<CKwImageUtil> a(registry.CreateImage("close.png"));
  std::unique_ptr<CKwImageUtil> b(registry.CreateImage("close.png"));
  ASSERT_TRUE(a && b);
  EXPECT_NE(a.get(), b.get());
  EXPECT_EQ(3, a->Width());
  EXPECT_EQ(2, b->Height());
  EXPECT_EQ(nullptr, registry.CreateImage("Close.png"));  // Byte-wise names.
  EXPECT_EQ(nullptr, registry.CreateImage(nullptr));
  registry.RegisterImage("empty", second.data(), 0);
  EXPECT_FALSE(registry.Contains("empty"));
}

TEST(ImageRegistry, CaptionPicturesAreEmbeddedAndDecode) {
  CKwImageRegistry registry;
  EXPECT_EQ(4, registry.RegisterCaptionImages());
  for (const char* name : {"close.png", "min.png", "max.png"}) {
    std::unique_ptr<CKwImageUtil> image(registry.CreateImage(name));
    ASSERT_TRUE(image) << name;
    EXPECT_EQ(24, image->Width()) << name;
    EXPECT_EQ(24, image->Height()) << name;
  }
  std::unique_ptr<CKwImageUtil> me(registry.CreateImage("me.png"));
  ASSERT_TRUE(me && me->HasPicture());
}

TEST(StockImages, TablesHoldPicturesOfTheirSizesAndNothingOutside) {
  const int iconSizes[6][2] = {{98, 101}, {108, 108}, {56, 51}, {208, 208}, {48, 48}, {78, 78}};
  CIKWImageIcon* icons = CIKWImageIcon::Instance();
  for (int i = 0; i < 6; ++i) {
    CKwImageUtil* image = icons->GetImage(i);
    ASSERT_NE(nullptr, image) << i;
    EXPECT_EQ(iconSizes[i][0], image->Width()) << i;
    EXPECT_EQ(iconSizes[i][1], image->Height()) << i;
    EXPECT_EQ(image, icons->GetImage(i)) << "kept after the first request";
  }
  EXPECT_EQ(nullptr, icons->GetImage(6));
  EXPECT_EQ(nullptr, icons->GetImage(-1));

  const int cellSizes[11][2] = {{160, 96},  {160, 96},  {56, 56}, {56, 56}, {712, 148}, {775, 148},
                                {525, 190}, {522, 189}, {93, 93}, {14, 14}, {14, 14}};
  for (int i = 0; i < 11; ++i) {
    CKwImageUtil* image = KwCellStockImage(i);
    ASSERT_NE(nullptr, image) << i;
    EXPECT_EQ(cellSizes[i][0], image->Width()) << i;
    EXPECT_EQ(cellSizes[i][1], image->Height()) << i;
  }
  EXPECT_EQ(nullptr, KwCellStockImage(11));
  EXPECT_EQ(nullptr, KwCellStockImage(-1));

  const KwEmbeddedImage* arrow = KwComboArrowImage();
  ASSERT_NE(nullptr, arrow);
  CKwImageUtil decoded;
  ASSERT_EQ(0, decoded.Decode(arrow->bytes, arrow->count));
  EXPECT_EQ(120, decoded.Width());

  KwReleaseStockImages();
  // A request after the release makes the picture again.
  ASSERT_NE(nullptr, KwCellStockImage(0));
  KwReleaseStockImages();
}

std::vector<uint8_t> ThreePictures() {
  std::vector<uint8_t> a = SolidPng(5, 4, qRgb(255, 0, 0));
  std::vector<uint8_t> b = SolidPng(6, 4, qRgb(0, 255, 0));
  std::vector<uint8_t> c = SolidPng(7, 4, qRgb(0, 0, 255));
  return CIKWLogoDataMake::PackRecords({{a.data(), static_cast<int>(a.size())},
                                        {b.data(), static_cast<int>(b.size())},
                                        {c.data(), static_cast<int>(c.size())}});
}

TEST(ImagePack, DecodesRecordsInOrder) {
  std::vector<uint8_t> records = ThreePictures();
  CIKWLogoDataMake pack(records.data(), records.size(), 3);
  EXPECT_EQ(nullptr, pack.GetImage(0));
  EXPECT_EQ(3, pack.Decode());
  EXPECT_TRUE(pack.Finished());
  for (int i = 0; i < 3; ++i) {
    ASSERT_NE(nullptr, pack.GetImage(i));
    EXPECT_EQ(5 + i, pack.GetImage(i)->Width());
  }
  EXPECT_EQ(nullptr, pack.GetImage(3));
}

TEST(ImagePack, ACountPastTheEndStopsTheWalk) {
  std::vector<uint8_t> records = ThreePictures();
  // Make the second record claim far more bytes than remain.
  uint32_t firstCount = records[0] | (records[1] << 8) | (records[2] << 16) | (records[3] << 24);
  size_t second = 4 + firstCount;
  records[second + 3] = 0x40;
  CIKWLogoDataMake pack(records.data(), records.size(), 3);
  EXPECT_EQ(1, pack.Decode());
  EXPECT_NE(nullptr, pack.GetImage(0));
  EXPECT_EQ(nullptr, pack.GetImage(1));
  EXPECT_EQ(nullptr, pack.GetImage(2));
  // More records asked for than present, and an empty sequence.
  CIKWLogoDataMake shortPack(records.data(), 3, 2);
  EXPECT_EQ(0, shortPack.Decode());
  CIKWLogoDataMake none(nullptr, 0, 3);
  EXPECT_EQ(0, none.Decode());
}

TEST(ImagePack, DecodesOnTheThreadManagerAndSurvivesEarlyDestruction) {
  std::vector<uint8_t> records = ThreePictures();
  CIKWLogoDataMake pack(records.data(), records.size(), 3);
  pack.Start();
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!pack.Finished() && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_TRUE(pack.Finished());
  EXPECT_NE(nullptr, pack.GetImage(2));
  // Destroyed right after scheduling: the job keeps its own reference.
  for (int i = 0; i < 5; ++i) {
    auto early = std::make_unique<CIKWLogoDataMake>(records.data(), records.size(), 3);
    early->Start();
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
}

}  // namespace

namespace {

// Every picture committed under resources/ must decode, so a damaged file is
// caught here rather than as a missing button at run time.
TEST(EmbeddedImages, EveryEmbeddedPictureDecodesAndNamesAreUnique) {
  int count = 0;
  const KwEmbeddedImage* table = KwEmbeddedImages(&count);
  ASSERT_GE(count, 22);
  std::set<std::string> names;
  for (int i = 0; i < count; ++i) {
    CKwImageUtil image;
    EXPECT_EQ(0, image.Decode(table[i].bytes, table[i].count)) << table[i].name;
    EXPECT_TRUE(names.insert(table[i].name).second) << table[i].name;
    EXPECT_EQ(&table[i], KwFindEmbeddedImage(table[i].name));
  }
  EXPECT_EQ(nullptr, KwFindEmbeddedImage("images/close.png"));  // Named by file name.
  EXPECT_EQ(nullptr, KwFindEmbeddedImage(nullptr));
}

}  // namespace
