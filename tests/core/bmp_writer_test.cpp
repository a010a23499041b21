// The BMP records and the writer: the exact bytes of the headers, the pixel
// data, and that a failed write never damages or leaves files behind.
#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <unistd.h>
#endif

#include <string>

#include "pdt/mdl_pdt.h"
#include "picture/loaded_picture.h"
#include "tests/core/core_test_support.h"

namespace {

using coretest::Bytes;
using coretest::Px;
using coretest::StreamBuilder;

std::uint32_t U32At(const Bytes& b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
         static_cast<std::uint32_t>(b[at + 2]) << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}
std::uint16_t U16At(const Bytes& b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}

TEST(BmpHeaders, SerializeEveryFieldLittleEndianWithoutGaps) {
  bmp::BITMAPFILEHEADER fh;
  fh.bfType = 0x0201;
  fh.bfSize = 0x06050403;
  fh.bfReserved1 = 0x0807;
  fh.bfReserved2 = 0x0A09;
  fh.bfOffBits = 0x0E0D0C0B;
  bmp::BITMAPINFO info;
  bmp::BITMAPINFOHEADER& ih = info.bmiHeader;
  ih.biSize = 0x1211100F;
  ih.biWidth = 0x16151413;
  ih.biHeight = 0x1A191817;
  ih.biPlanes = 0x1C1B;
  ih.biBitCount = 0x1E1D;
  ih.biCompression = 0x2221201F;
  ih.biSizeImage = 0x26252423;
  ih.biXPelsPerMeter = 0x2A292827;
  ih.biYPelsPerMeter = 0x2E2D2C2B;
  ih.biClrUsed = 0x3231302F;
  ih.biClrImportant = 0x36353433;
  info.bmiColors[0] = bmp::RGBQUAD{0x37, 0x38, 0x39, 0x3A};

  // Each field's bytes count up from 1, so any misplaced byte shows.
  const auto bytes = bmp::SerializeBmpHeaders(fh, info);
  ASSERT_EQ(bytes.size(), 58u);
  for (std::size_t k = 0; k < bytes.size(); ++k) EXPECT_EQ(bytes[k], k + 1) << "byte " << k;
}

TEST(BmpHeaders, SerializeNegativeSizesAsTwosComplement) {
  bmp::BITMAPINFO info;
  info.bmiHeader.biHeight = -2;
  const auto bytes = bmp::SerializeBmpHeaders(bmp::BITMAPFILEHEADER{}, info);
  EXPECT_EQ(bytes[22], 0xFE);
  EXPECT_EQ(bytes[23], 0xFF);
  EXPECT_EQ(bytes[24], 0xFF);
  EXPECT_EQ(bytes[25], 0xFF);
}

TEST(BmpHeaders, FillInfoHeaderDescribesThePictureAndKeepsTheRest) {
  picture::LoadedPicture picture;
  picture.Header.Width = 640;
  picture.Header.Height = 480;
  picture.Info.bmiHeader.biXPelsPerMeter = 77;  // not the loader's to change
  picture::FillInfoHeader(picture);
  const bmp::BITMAPINFOHEADER& ih = picture.Info.bmiHeader;
  EXPECT_EQ(ih.biSize, 40u);
  EXPECT_EQ(ih.biWidth, 640);
  EXPECT_EQ(ih.biHeight, 480);
  EXPECT_EQ(ih.biPlanes, 1);
  EXPECT_EQ(ih.biBitCount, 32);
  EXPECT_EQ(ih.biSizeImage, 640u * 480u * 4u);
  EXPECT_EQ(ih.biCompression, 0u);
  EXPECT_EQ(ih.biXPelsPerMeter, 77);

  picture.Header.Width = 23170;
  picture.Header.Height = 23170;
  picture::FillInfoHeader(picture);
  EXPECT_EQ(ih.biSizeImage, 23170u * 23170u * 4u);
}

// Loads a PDT file made from `top_first` into `picture` the way the window does.
void LoadInto(picture::LoadedPicture& picture, const coretest::TempDir& dir,
              const std::vector<std::uint32_t>& top_first, std::int32_t w, std::int32_t h) {
  StreamBuilder s;
  for (std::uint32_t p : top_first) s.Literal(p);
  const auto path = dir / "in.pdt";
  coretest::WriteBytes(path, coretest::PdtFile(w, h, s.bytes()));
  ASSERT_TRUE(mdl_pdt::LoadPdt(path, picture.Header, picture.Pixels));
  picture::FillInfoHeader(picture);
}

// The fields that no step sets must read zero in every written file.
void ExpectUnsetFieldsZero(const Bytes& file) {
  ASSERT_GE(file.size(), 58u);
  EXPECT_EQ(U16At(file, 6), 0);    // bfReserved1
  EXPECT_EQ(U16At(file, 8), 0);    // bfReserved2
  EXPECT_EQ(U32At(file, 30), 0u);  // biCompression
  EXPECT_EQ(U32At(file, 38), 0u);  // biXPelsPerMeter
  EXPECT_EQ(U32At(file, 42), 0u);  // biYPelsPerMeter
  EXPECT_EQ(U32At(file, 46), 0u);  // biClrUsed
  EXPECT_EQ(U32At(file, 50), 0u);  // biClrImportant
  EXPECT_EQ(U32At(file, 54), 0u);  // the colour-table entry
}

TEST(BmpWrite, ATwoByTwoPictureMakesA74ByteFile) {
  coretest::TempDir dir;
  picture::LoadedPicture picture;
  const std::uint32_t a = Px(1, 2, 3), b = Px(4, 5, 6), c = Px(7, 8, 9), d = Px(10, 11, 12);
  LoadInto(picture, dir, {a, b, c, d}, 2, 2);
  const auto out = dir / "out.bmp";
  ASSERT_EQ(picture::WriteBmp(out, picture), bmp::WriteStatus::Ok);

  const Bytes file = coretest::ReadBytes(out);
  ASSERT_EQ(file.size(), 74u);
  EXPECT_EQ(file[0], 'B');
  EXPECT_EQ(file[1], 'M');
  EXPECT_EQ(U32At(file, 2), 74u);   // bfSize
  EXPECT_EQ(U32At(file, 10), 58u);  // bfOffBits
  EXPECT_EQ(U32At(file, 14), 40u);  // biSize
  EXPECT_EQ(U32At(file, 18), 2u);   // biWidth
  EXPECT_EQ(U32At(file, 22), 2u);   // biHeight, positive: bottom row first
  EXPECT_EQ(U16At(file, 26), 1);    // biPlanes
  EXPECT_EQ(U16At(file, 28), 32);   // biBitCount
  EXPECT_EQ(U32At(file, 34), 16u);  // biSizeImage
  ExpectUnsetFieldsZero(file);
  // Bottom row (C, D) first, each pixel as B, G, R, 0xFF.
  const Bytes pixels(file.begin() + 58, file.end());
  EXPECT_EQ(pixels, (Bytes{9, 8, 7, 0xFF, 12, 11, 10, 0xFF, 3, 2, 1, 0xFF, 6, 5, 4, 0xFF}));
  // The file header in memory says the same.
  EXPECT_EQ(picture.FileHeader.bfType, 0x4D42);
  EXPECT_EQ(picture.FileHeader.bfSize, 74u);
  EXPECT_EQ(picture.FileHeader.bfOffBits, 58u);
}

TEST(BmpWrite, SuccessivePicturesKeepTheUnsetFieldsZero) {
  coretest::TempDir dir;
  picture::LoadedPicture picture;
  const std::pair<std::int32_t, std::int32_t> sizes[] = {{3, 5}, {2, 2}, {17, 1}, {1, 9}};
  int round = 0;
  for (const auto& [w, h] : sizes) {
    const auto top_first =
        coretest::RandomPicture(w, h, static_cast<std::uint32_t>(w * 31 + h), 50, 0.5);
    LoadInto(picture, dir, top_first, w, h);
    const auto out = dir / ("out" + std::to_string(round++) + ".bmp");
    ASSERT_EQ(picture::WriteBmp(out, picture), bmp::WriteStatus::Ok);
    const Bytes file = coretest::ReadBytes(out);
    const std::size_t image = static_cast<std::size_t>(w * h) * 4;
    ASSERT_EQ(file.size(), 58 + image) << w << " x " << h;
    EXPECT_EQ(U32At(file, 2), 58 + image);
    EXPECT_EQ(U32At(file, 18), static_cast<std::uint32_t>(w));
    EXPECT_EQ(U32At(file, 22), static_cast<std::uint32_t>(h));
    EXPECT_EQ(U32At(file, 34), image);
    ExpectUnsetFieldsZero(file);
    for (std::size_t k = 58 + 3; k < file.size(); k += 4) {
      ASSERT_EQ(file[k], 0xFF) << "byte " << k;
    }
    const mdl_pdt::PixelBuffer expected = coretest::BottomFirst(top_first, w, h);
    for (std::size_t k = 0; k < expected.size(); ++k) {
      ASSERT_EQ(U32At(file, 58 + 4 * k), expected[k]) << "pixel " << k;
    }
  }
}

TEST(BmpWrite, ReplacesAnExistingFile) {
  coretest::TempDir dir;
  picture::LoadedPicture picture;
  LoadInto(picture, dir, {Px(1, 2, 3)}, 1, 1);
  const auto out = dir / "out.bmp";
  coretest::WriteBytes(out, Bytes(500, 0x55));
  ASSERT_EQ(picture::WriteBmp(out, picture), bmp::WriteStatus::Ok);
  EXPECT_EQ(coretest::ReadBytes(out).size(), 62u);
  EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"in.pdt", "out.bmp"}));
}

TEST(BmpWrite, TakesTheLongestNameTheFolderAllows) {
  coretest::TempDir dir;
  picture::LoadedPicture picture;
  LoadInto(picture, dir, {Px(1, 2, 3)}, 1, 1);
  const std::string name = std::string(251, 'n') + ".bmp";  // 255 bytes, the usual limit
  ASSERT_EQ(picture::WriteBmp(dir / name, picture), bmp::WriteStatus::Ok);
  EXPECT_EQ(coretest::ReadBytes(dir / name).size(), 62u);
  EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"in.pdt", name}));
}

class BmpWriteFailure : public testing::Test {
 protected:
  void SetUp() override {
    LoadInto(picture_, dir_, {Px(1, 2, 3), Px(4, 5, 6)}, 2, 1);
    coretest::WriteBytes(dir_ / "old.bmp", old_bytes_);
  }
  // The write failed, the old file is as it was, and nothing was added.
  void ExpectNothingChanged(const std::vector<std::string>& entries_before) {
    EXPECT_EQ(coretest::ReadBytes(dir_ / "old.bmp"), old_bytes_);
    EXPECT_EQ(dir_.Entries(), entries_before);
  }

  coretest::TempDir dir_;
  picture::LoadedPicture picture_;
  const Bytes old_bytes_ = Bytes{'B', 'M', 1, 2, 3, 4, 5};
};

TEST_F(BmpWriteFailure, TargetIsADirectory) {
  std::filesystem::create_directory(dir_ / "taken.bmp");
  coretest::WriteBytes(dir_ / "taken.bmp" / "inside.txt", old_bytes_);
  const auto before = dir_.Entries();
  EXPECT_EQ(picture::WriteBmp(dir_ / "taken.bmp", picture_), bmp::WriteStatus::IsFolder);
  ExpectNothingChanged(before);
  EXPECT_TRUE(std::filesystem::is_directory(dir_ / "taken.bmp"));
  EXPECT_EQ(coretest::ReadBytes(dir_ / "taken.bmp" / "inside.txt"), old_bytes_);
}

TEST_F(BmpWriteFailure, FolderIsMissing) {
  const auto before = dir_.Entries();
  EXPECT_EQ(picture::WriteBmp(dir_ / "no-such-folder" / "out.bmp", picture_),
            bmp::WriteStatus::NoFolder);
  ExpectNothingChanged(before);
}

TEST_F(BmpWriteFailure, PathRunsThroughARegularFile) {
  const auto before = dir_.Entries();
  EXPECT_EQ(picture::WriteBmp(dir_ / "old.bmp" / "out.bmp", picture_),
            bmp::WriteStatus::NotAFolder);
  ExpectNothingChanged(before);
}

TEST_F(BmpWriteFailure, PixelsDoNotMatchTheHeaders) {
  picture_.Pixels.pop_back();
  const auto before = dir_.Entries();
  EXPECT_EQ(picture::WriteBmp(dir_ / "old.bmp", picture_), bmp::WriteStatus::BadContent);
  ExpectNothingChanged(before);
}

TEST_F(BmpWriteFailure, NoFileName) {
  const auto before = dir_.Entries();
  EXPECT_EQ(picture::WriteBmp("", picture_), bmp::WriteStatus::NoName);
  EXPECT_EQ(picture::WriteBmp(dir_.path() / "", picture_), bmp::WriteStatus::NoName);
  ExpectNothingChanged(before);
}

TEST_F(BmpWriteFailure, ReadOnlyFolder) {
#if defined(_WIN32)
  GTEST_SKIP() << "a folder's read-only attribute does not keep files out on Windows";
#else
  if (geteuid() == 0) GTEST_SKIP() << "the superuser may write into any folder";
#endif
  const auto before = dir_.Entries();
  std::filesystem::permissions(dir_.path(),
                               std::filesystem::perms::owner_write |
                                   std::filesystem::perms::group_write |
                                   std::filesystem::perms::others_write,
                               std::filesystem::perm_options::remove);
  EXPECT_EQ(picture::WriteBmp(dir_ / "old.bmp", picture_), bmp::WriteStatus::PermissionDenied);
  EXPECT_EQ(picture::WriteBmp(dir_ / "new.bmp", picture_), bmp::WriteStatus::PermissionDenied);
  std::filesystem::permissions(dir_.path(), std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::add);
  ExpectNothingChanged(before);
}

}  // namespace
