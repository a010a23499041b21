// Loading PDT files from disk: what a good file gives, and that every broken
// or hostile file is turned down without touching memory it must not.
#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <random>
#include <string>

#include "pdt/mdl_pdt.h"
#include "tests/core/core_test_support.h"

namespace {

using coretest::Bytes;
using coretest::HeaderBytes;
using coretest::PdtFile;
using coretest::Px;
using coretest::StreamBuilder;

const std::uint32_t kA = Px(0x11, 0x22, 0x33);
const std::uint32_t kB = Px(0x44, 0x55, 0x66);
const std::uint32_t kC = Px(0x77, 0x88, 0x99);
const std::uint32_t kD = Px(0xAA, 0xBB, 0xCC);

// What is left in the caller's buffer when a load must not have written it.
const mdl_pdt::PixelBuffer kUntouched = {0x12345678u, 0x9ABCDEF0u};

class PdtLoad : public testing::Test {
 protected:
  // Writes `bytes` to a file of the test's own folder and loads it.
  mdl_pdt::PdtStatus Load(const Bytes& bytes) {
    const auto path = dir_ / "picture.pdt";
    coretest::WriteBytes(path, bytes);
    return LoadPath(path);
  }
  mdl_pdt::PdtStatus LoadPath(const std::filesystem::path& path) {
    header_ = mdl_pdt::PdtHeader{};
    pixels_ = kUntouched;
    const mdl_pdt::PdtStatus status = mdl_pdt::LoadPdtFile(path, header_, pixels_);
    // The Boolean form agrees, and also leaves no picture behind on failure.
    mdl_pdt::PdtHeader header;
    mdl_pdt::PixelBuffer pixels = kUntouched;
    EXPECT_EQ(mdl_pdt::LoadPdt(path, header, pixels), status == mdl_pdt::PdtStatus::Ok);
    EXPECT_EQ(pixels, pixels_);
    return status;
  }
  // A failed load wrote nothing, or left the buffer empty.
  void ExpectNoPicture() const {
    EXPECT_TRUE(pixels_ == kUntouched || pixels_.empty()) << pixels_.size() << " pixels";
  }

  coretest::TempDir dir_;
  mdl_pdt::PdtHeader header_;
  mdl_pdt::PixelBuffer pixels_;
};

TEST_F(PdtLoad, LoadsATwoByTwoPictureBottomRowFirst) {
  StreamBuilder s;
  s.Literal(kA).Literal(kB).Literal(kC).Literal(kD);  // top row A, B; bottom row C, D
  const std::array<std::uint8_t, 12> reserved = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  Bytes file =
      HeaderBytes("PDT10", static_cast<std::int32_t>(32 + s.bytes().size()), 2, 2, reserved);
  file.insert(file.end(), s.bytes().begin(), s.bytes().end());

  ASSERT_EQ(Load(file), mdl_pdt::PdtStatus::Ok);
  EXPECT_EQ(pixels_, (mdl_pdt::PixelBuffer{kC, kD, kA, kB}));
  EXPECT_EQ(header_.FileSize, static_cast<std::int32_t>(file.size()));
  EXPECT_EQ(header_.Width, 2);
  EXPECT_EQ(header_.Height, 2);
  EXPECT_EQ(header_.Reserved, reserved);
}

TEST_F(PdtLoad, AcceptsTheSignatureAfterASpace) {
  Bytes file = PdtFile(4, 1, Bytes{0x80, 0x10, 0x20, 0x30, 0x02, 0x00});
  const std::string sig(" PDT10\0\0", 8);
  std::copy(sig.begin(), sig.end(), file.begin());
  ASSERT_EQ(Load(file), mdl_pdt::PdtStatus::Ok);
  EXPECT_EQ(pixels_, mdl_pdt::PixelBuffer(4, 0xFF302010u));
}

TEST_F(PdtLoad, WrongSignatureKeepsTheHeaderReadAndThePixelsUntouched) {
  const std::array<std::uint8_t, 12> reserved = {0xEE, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xDD};
  Bytes file = HeaderBytes("pdt10", 38, 4, 1, reserved);
  const Bytes payload = {0x80, 0x10, 0x20, 0x30, 0x02, 0x00};
  file.insert(file.end(), payload.begin(), payload.end());

  EXPECT_EQ(Load(file), mdl_pdt::PdtStatus::NotPdt10);
  EXPECT_EQ(pixels_, kUntouched);
  EXPECT_EQ(std::string(header_.Signature.data(), 5), "pdt10");
  EXPECT_EQ(header_.FileSize, 38);
  EXPECT_EQ(header_.Width, 4);
  EXPECT_EQ(header_.Height, 1);
  EXPECT_EQ(header_.Reserved, reserved);
}

TEST_F(PdtLoad, RejectsFilesThatCannotBeRead) {
  EXPECT_EQ(LoadPath(dir_ / "missing.pdt"), mdl_pdt::PdtStatus::NotFound);
  ExpectNoPicture();
  EXPECT_FALSE(std::filesystem::exists(dir_ / "missing.pdt"));  // not created
  EXPECT_EQ(LoadPath(dir_ / "nowhere" / "a.pdt"), mdl_pdt::PdtStatus::NotFound);
  ExpectNoPicture();

  std::filesystem::create_directory(dir_ / "folder.pdt");
  EXPECT_NE(LoadPath(dir_ / "folder.pdt"), mdl_pdt::PdtStatus::Ok);
  ExpectNoPicture();

  EXPECT_NE(LoadPath(""), mdl_pdt::PdtStatus::Ok);
  ExpectNoPicture();
}

TEST_F(PdtLoad, RejectsFilesShorterThanTheHeader) {
  const Bytes full = PdtFile(4, 1, Bytes{0x80, 0x10, 0x20, 0x30, 0x02, 0x00});
  for (std::size_t size : {0, 1, 8, 31}) {
    EXPECT_EQ(Load(Bytes(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(size))),
              mdl_pdt::PdtStatus::HeaderTooShort)
        << size << " bytes";
    ExpectNoPicture();
  }
  // Just the header, with FileSize claiming a payload that is not there.
  EXPECT_NE(Load(Bytes(full.begin(), full.begin() + 32)), mdl_pdt::PdtStatus::Ok);
  ExpectNoPicture();
}

TEST_F(PdtLoad, RejectsHeadersThatLeaveNoPayload) {
  const Bytes payload = {0x80, 0x10, 0x20, 0x30};
  for (std::int32_t file_size : {32, 31, 0, -1, std::numeric_limits<std::int32_t>::min()}) {
    Bytes file = HeaderBytes("PDT10", file_size, 1, 1);
    file.insert(file.end(), payload.begin(), payload.end());
    EXPECT_EQ(Load(file), mdl_pdt::PdtStatus::BadFileSize) << "FileSize " << file_size;
    ExpectNoPicture();
  }
}

TEST_F(PdtLoad, RejectsSizesBelowOne) {
  for (const auto& [w, h] : {std::pair{0, 1}, {1, 0}, {-1, 1}, {1, -1}, {-5, -5}}) {
    Bytes file = HeaderBytes("PDT10", 36, w, h);
    file.insert(file.end(), {0x80, 0x10, 0x20, 0x30});
    EXPECT_EQ(Load(file), mdl_pdt::PdtStatus::BadDimensions) << w << " x " << h;
    ExpectNoPicture();
  }
}

TEST_F(PdtLoad, RejectsPicturesTooLargeForTheBmpSizeField) {
  for (const auto& [w, h] : {std::pair{23171, 23171},
                             {536870912, 1},
                             {65536, 65536},
                             {std::numeric_limits<std::int32_t>::max(), 2}}) {
    Bytes file = HeaderBytes("PDT10", std::numeric_limits<std::int32_t>::max(), w, h);
    file.resize(1024, 0x00);
    EXPECT_EQ(Load(file), mdl_pdt::PdtStatus::TooLarge) << w << " x " << h;
    ExpectNoPicture();
  }
}

TEST_F(PdtLoad, RejectsAHugeClaimThatTheFileCannotFill) {
  // 1 KB of payload cannot make 23170 × 23170 pixels; this is decided from
  // the header and the file's size alone.
  Bytes file = HeaderBytes("PDT10", 1024, 23170, 23170);
  file.resize(1024, 0xFF);
  EXPECT_EQ(Load(file), mdl_pdt::PdtStatus::StreamTruncated);
  ExpectNoPicture();

  // The same when FileSize claims far more than the file holds.
  Bytes big_claim = HeaderBytes("PDT10", std::numeric_limits<std::int32_t>::max(), 23170, 23170);
  big_claim.resize(1024, 0xFF);
  EXPECT_EQ(Load(big_claim), mdl_pdt::PdtStatus::StreamTruncated);
  ExpectNoPicture();
}

TEST_F(PdtLoad, RejectsStreamsThatNeedMissingBytes) {
  Bytes file = PdtFile(4, 1, Bytes{0x80, 0x10, 0x20, 0x30, 0x02});  // copy cut short
  EXPECT_EQ(Load(file), mdl_pdt::PdtStatus::StreamTruncated);
  ExpectNoPicture();
}

TEST_F(PdtLoad, RejectsACopyBeforeTheFirstPixel) {
  EXPECT_EQ(Load(PdtFile(4, 1, Bytes{0x40, 0x10, 0x20, 0x30, 0x02, 0x00})),
            mdl_pdt::PdtStatus::CopyBeforeStart);
  ExpectNoPicture();
  EXPECT_EQ(Load(PdtFile(4, 1, Bytes{0x80, 0x10, 0x20, 0x30, 0x13, 0x00})),
            mdl_pdt::PdtStatus::CopyBeforeStart);
  ExpectNoPicture();
}

TEST_F(PdtLoad, NeverReadsPastFileSize) {
  // The whole stream is in the file, but FileSize stops one byte short of it.
  const Bytes payload = {0x80, 0x10, 0x20, 0x30, 0x02, 0x00};
  Bytes file = HeaderBytes("PDT10", 32 + 5, 4, 1);
  file.insert(file.end(), payload.begin(), payload.end());
  EXPECT_EQ(Load(file), mdl_pdt::PdtStatus::StreamTruncated);
  ExpectNoPicture();

  // Bytes after FileSize that would break the picture are never looked at.
  Bytes padded = PdtFile(4, 1, payload);
  padded.insert(padded.end(), {0x00, 0x00, 0x00, 0xFF, 0xFF});
  ASSERT_EQ(Load(padded), mdl_pdt::PdtStatus::Ok);
  EXPECT_EQ(pixels_, mdl_pdt::PixelBuffer(4, 0xFF302010u));
}

TEST_F(PdtLoad, AFileShorterThanFileSizeFailsOnlyWhenBytesAreMissing) {
  const Bytes payload = {0x80, 0x10, 0x20, 0x30, 0x02, 0x00};
  // FileSize claims 100 more bytes than there are; the picture needs none of them.
  Bytes enough = HeaderBytes("PDT10", 32 + 6 + 100, 4, 1);
  enough.insert(enough.end(), payload.begin(), payload.end());
  ASSERT_EQ(Load(enough), mdl_pdt::PdtStatus::Ok);
  EXPECT_EQ(pixels_, mdl_pdt::PixelBuffer(4, 0xFF302010u));

  // A picture of 5 pixels needs one more token than the file holds.
  Bytes missing = HeaderBytes("PDT10", 32 + 6 + 100, 5, 1);
  missing.insert(missing.end(), payload.begin(), payload.end());
  EXPECT_EQ(Load(missing), mdl_pdt::PdtStatus::StreamTruncated);
  ExpectNoPicture();
}

// A random stream of literals and copies of every distance and length that
// makes exactly `count` pixels; copies may reach across any number of rows.
StreamBuilder RandomTokens(std::size_t count, std::mt19937& rng) {
  StreamBuilder s;
  s.Literal(rng());
  while (s.pixels().size() < count) {
    const std::size_t have = s.pixels().size();
    const std::size_t room = std::min<std::size_t>(count - have, 16);
    switch (rng() % 5) {
      case 0:
        s.Literal(rng());
        break;
      case 4:  // a burst of literals fills whole flag groups
        for (std::size_t k = 1 + rng() % 12; k > 0 && s.pixels().size() < count; --k) {
          s.Literal(rng());
        }
        break;
      case 1:  // short distances overlap what they write
        s.Copy(1 + rng() % std::min<std::size_t>(have, 16), 1 + rng() % room);
        break;
      default:
        s.Copy(1 + rng() % std::min<std::size_t>(have, 4096), 1 + rng() % room);
        break;
    }
  }
  return s;
}

TEST_F(PdtLoad, ACopyAfterLiteralsRepeatsTheLatestPixel) {
  // In every row of a wide picture: a run of literals, then a distance-1 copy.
  std::mt19937 rng(12);
  for (std::size_t run = 1; run <= 20; ++run) {
    const std::int32_t w = 64, h = 3;
    StreamBuilder s;
    while (s.pixels().size() < static_cast<std::size_t>(w * h)) {
      const std::size_t left = static_cast<std::size_t>(w * h) - s.pixels().size();
      for (std::size_t k = 0; k < std::min(run, left); ++k) s.Literal(rng());
      if (left > run) s.Copy(1, std::min<std::size_t>(16, left - run));
    }
    ASSERT_EQ(Load(PdtFile(w, h, s.bytes())), mdl_pdt::PdtStatus::Ok) << run;
    EXPECT_EQ(pixels_, coretest::BottomFirst(s.pixels(), w, h)) << run << " literals";
  }
}

TEST_F(PdtLoad, RandomTokenStreamsLoadBottomRowFirst) {
  std::mt19937 rng(2024);
  for (std::int32_t w : {1, 2, 7, 15, 16, 17, 24, 31, 32, 33, 64, 100, 255, 256, 1000, 4097}) {
    for (int round = 0; round < 3; ++round) {
      const std::int32_t h = 1 + static_cast<std::int32_t>(rng() % (40000 / w + 2));
      const StreamBuilder s =
          RandomTokens(static_cast<std::size_t>(w) * static_cast<std::size_t>(h), rng);
      ASSERT_EQ(Load(PdtFile(w, h, s.bytes())), mdl_pdt::PdtStatus::Ok) << w << " x " << h;
      ASSERT_EQ(pixels_, coretest::BottomFirst(s.pixels(), w, h)) << w << " x " << h;
    }
  }
}

TEST_F(PdtLoad, CopiesReachingBeforeTheFirstPixelAreFoundInAnyRow) {
  std::mt19937 rng(99);
  for (std::int32_t w : {1, 5, 16, 40, 300}) {
    const std::int32_t h = 50;
    // A valid start, then a copy reaching one pixel too far back, then filler.
    StreamBuilder s = RandomTokens(static_cast<std::size_t>(w) * 3 + 3, rng);
    s.Copy(s.pixels().size() + 1, 1);
    while (s.pixels().size() < static_cast<std::size_t>(w * h)) s.Literal(0x123456);
    EXPECT_EQ(Load(PdtFile(w, h, s.bytes())), mdl_pdt::PdtStatus::CopyBeforeStart) << "width " << w;
    ExpectNoPicture();
  }
}

TEST_F(PdtLoad, LongStreamsLoadWhole) {
  // Payloads of a few hundred kilobytes, far longer than any single read.
  std::mt19937 rng(31337);
  for (std::int32_t w : {1, 16, 33, 640}) {
    const std::int32_t h = 600000 / w;
    const StreamBuilder s =
        RandomTokens(static_cast<std::size_t>(w) * static_cast<std::size_t>(h), rng);
    ASSERT_GT(s.bytes().size(), 160u * 1024u);
    ASSERT_EQ(Load(PdtFile(w, h, s.bytes())), mdl_pdt::PdtStatus::Ok) << w << " x " << h;
    ASSERT_EQ(pixels_, coretest::BottomFirst(s.pixels(), w, h)) << w << " x " << h;
  }
}

TEST_F(PdtLoad, PayloadsAroundPowerOfTwoSizes) {
  // All-literal streams whose last flag groups fall at every offset around
  // 64 KiB and 128 KiB of payload; whole, cut by one byte, and with FileSize
  // one byte short.
  std::mt19937 rng(5);
  for (std::size_t boundary : {std::size_t{65536}, std::size_t{131072}}) {
    const std::size_t first = boundary * 8 / 25 - 12;  // 3.125 payload bytes per pixel
    for (std::size_t n = first; n < first + 24; ++n) {
      StreamBuilder s;
      for (std::size_t k = 0; k < n; ++k) s.Literal(rng());
      const auto w = static_cast<std::int32_t>(n);
      ASSERT_EQ(Load(PdtFile(w, 1, s.bytes())), mdl_pdt::PdtStatus::Ok) << n << " pixels";
      ASSERT_EQ(pixels_, s.pixels()) << n << " pixels";

      Bytes cut = PdtFile(w, 1, s.bytes());
      cut.pop_back();
      EXPECT_EQ(Load(cut), mdl_pdt::PdtStatus::StreamTruncated) << n << " pixels";

      Bytes short_size = PdtFile(w, 1, s.bytes());
      const auto file_size = static_cast<std::uint32_t>(short_size.size() - 1);
      for (std::size_t k = 0; k < 4; ++k) {
        short_size[8 + k] = static_cast<std::uint8_t>(file_size >> (8 * k));
      }
      EXPECT_EQ(Load(short_size), mdl_pdt::PdtStatus::StreamTruncated) << n << " pixels";
    }
  }
}

TEST_F(PdtLoad, OneFailureDoesNotSpoilTheNextLoad) {
  ASSERT_EQ(Load(PdtFile(4, 1, Bytes{0x80, 0x10, 0x20, 0x30, 0x13})), mdl_pdt::PdtStatus::StreamTruncated);
  ASSERT_EQ(Load(PdtFile(4, 1, Bytes{0x80, 0x10, 0x20, 0x30, 0x02, 0x00})), mdl_pdt::PdtStatus::Ok);
  EXPECT_EQ(pixels_, mdl_pdt::PixelBuffer(4, 0xFF302010u));
}

}  // namespace
