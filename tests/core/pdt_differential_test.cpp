// The loader against the reference decoder followed by FlipRows, once with
// every decoding kernel: random token streams, valid and broken, over many
// widths, and the shared set of game-art pictures checked against the digests
// of their BMP files. Every input goes through the in-memory loader and the
// file loader, into one pixel buffer that is reused throughout, and through
// the row-by-row decoder from memory and from the file. A kernel this machine
// cannot run is skipped, by name.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "devtools/reference_decoder.h"
#include "pdt/kernel.h"
#include "pdt/mdl_pdt.h"
#include "tests/core/core_test_support.h"

namespace {

using coretest::Bytes;

// Appends the rows it is handed, checking that they come top row first.
class RowCollector : public mdl_pdt::RowSink {
 public:
  void Begin(const mdl_pdt::PdtHeader& header) override {
    width_ = static_cast<std::size_t>(header.Width);
    pixels.clear();
  }
  void Row(std::size_t index, std::span<const std::uint32_t> row) override {
    EXPECT_EQ(index * width_, pixels.size());
    EXPECT_EQ(row.size(), width_);
    pixels.insert(pixels.end(), row.begin(), row.end());
  }
  std::vector<std::uint32_t> pixels;

 private:
  std::size_t width_ = 0;
};

class PdtDifferential : public testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    if (!mdl_pdt::UseKernel(GetParam())) {
      GTEST_SKIP() << "the " << GetParam() << " kernel cannot run on this machine";
    }
    ASSERT_STREQ(mdl_pdt::KernelInUse(), GetParam());
  }

  // Loads `file` from memory and from disk and holds both against the reference
  // decoder: the same success, and on success the same pixels.
  void Check(const Bytes& file, const std::string& what) {
    mdl_pdt::PdtHeader header;
    bool expect_ok =
        mdl_pdt::ParseHeader(file, header) == mdl_pdt::PdtStatus::Ok && header.FileSize > 32;
    std::vector<std::uint32_t> expected;
    if (expect_ok) {
      const std::size_t declared = static_cast<std::size_t>(header.FileSize) - 32;
      const std::span<const std::uint8_t> payload(file.data() + 32,
                                                  std::min(declared, file.size() - 32));
      expect_ok = pdtref::ReferenceDecode(payload, header.Width, header.Height, expected);
    }
    mdl_pdt::PixelBuffer flipped(expected.begin(), expected.end());
    if (expect_ok) mdl_pdt::FlipRows(flipped, header.Width, header.Height);

    const std::uint32_t* before = pixels_.data();
    const bool fits = pixels_.capacity() >= flipped.size();
    const mdl_pdt::PdtStatus memory = mdl_pdt::LoadPdtMemory(file, header, pixels_);
    ASSERT_EQ(memory == mdl_pdt::PdtStatus::Ok, expect_ok)
        << what << ": " << mdl_pdt::Describe(memory);
    if (expect_ok) {
      ASSERT_EQ(pixels_, flipped) << what;
      if (fits) {
        EXPECT_EQ(pixels_.data(), before) << what << ": the buffer was allocated again";
      }
    } else {
      EXPECT_TRUE(pixels_.empty()) << what;
    }

    const auto path = dir_ / "picture.pdt";
    coretest::WriteBytes(path, file);
    const mdl_pdt::PdtStatus from_file = mdl_pdt::LoadPdtFile(path, header, pixels_);
    ASSERT_EQ(from_file, memory) << what;
    if (expect_ok) {
      ASSERT_EQ(pixels_, flipped) << what;
    }

    RowCollector rows;
    ASSERT_EQ(mdl_pdt::DecodeRowsMemory(file, header, rows), memory) << what;
    if (expect_ok) {
      ASSERT_EQ(rows.pixels, expected) << what << ": rows from memory";
    }
    ASSERT_EQ(mdl_pdt::DecodeRowsFile(path, header, rows), memory) << what;
    if (expect_ok) {
      ASSERT_EQ(rows.pixels, expected) << what << ": rows from the file";
    }
  }

  coretest::TempDir dir_;
  mdl_pdt::PdtHeader header_;
  mdl_pdt::PixelBuffer pixels_;
};

// A random stream for a width × height picture: literals alone and in runs,
// copies of every length at short and long distances. With `broken`, some
// copies reach before pixel 0 and the stream may be cut anywhere.
Bytes RandomStream(std::size_t pixels, std::mt19937& rng, bool broken) {
  coretest::StreamBuilder s;
  s.Literal(rng());
  while (s.pixels().size() < pixels + rng() % 3) {
    const std::size_t have = s.pixels().size();
    switch (rng() % 6) {
      case 0:
        s.Literal(rng());
        break;
      case 1:
        for (unsigned k = 1 + rng() % 20; k > 0; --k) s.Literal(rng());
        break;
      case 2:  // short distances, on both sides of 16
        s.Copy(1 + rng() % std::min<std::size_t>(have, 24), 1 + rng() % 16);
        break;
      default: {
        std::size_t distance = 1 + rng() % std::min<std::size_t>(have, 4096);
        if (broken && rng() % 200 == 0)
          distance = std::min<std::size_t>(have + 1 + rng() % 8, 4096);
        s.Copy(distance, 1 + rng() % 16);
      }
    }
  }
  Bytes bytes = s.bytes();
  if (broken && rng() % 2 == 0) bytes.resize(rng() % (bytes.size() + 1));
  return bytes;
}

TEST_P(PdtDifferential, RandomStreamsOverManyWidths) {
  std::mt19937 rng(91);
  pixels_.reserve(200000);
  for (std::int32_t w : {1,  2,  3,  4,  5,  6,  7,  8,   9,   10,   11,   12,   13,  14,
                         15, 16, 17, 20, 31, 33, 64, 127, 640, 1281, 4097, 8192, 9001}) {
    for (int round = 0; round < 6; ++round) {
      const std::int32_t h = 1 + static_cast<std::int32_t>(rng() % (150000 / w + 1));
      const auto count = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
      const bool broken = round % 2 == 1;
      Check(coretest::PdtFile(w, h, RandomStream(count, rng, broken)),
            std::to_string(w) + " x " + std::to_string(h) + (broken ? " broken" : ""));
    }
  }
}

TEST_P(PdtDifferential, ARunCrossingARowEndIsCountedIntoTheNextRow) {
  // W = 20: a literal and two copies of 16 end with 13 pixels in row 2; seven
  // more literals complete it.
  coretest::StreamBuilder s;
  s.Literal(0x112233).Copy(1, 16).Copy(1, 16);
  for (int k = 0; k < 7; ++k) s.Literal(0x445566);
  Check(coretest::PdtFile(20, 2, s.bytes()), "20 x 2");
  ASSERT_EQ(mdl_pdt::LoadPdtMemory(coretest::PdtFile(20, 2, s.bytes()), header_, pixels_),
            mdl_pdt::PdtStatus::Ok);
  // Bottom row first: row 2 is 13 copies then 7 literals, row 1 all copies.
  for (std::size_t k = 0; k < 40; ++k) {
    const bool second_literal = k >= 13 && k < 20;
    EXPECT_EQ(pixels_[k], second_literal ? 0xFF445566u : 0xFF112233u) << k;
  }
  // One pixel short of the second row: the stream runs out.
  coretest::StreamBuilder t;
  t.Literal(0x112233).Copy(1, 16).Copy(1, 16);
  EXPECT_EQ(mdl_pdt::LoadPdtMemory(coretest::PdtFile(20, 2, t.bytes()), header_, pixels_),
            mdl_pdt::PdtStatus::StreamTruncated);
  EXPECT_TRUE(pixels_.empty());
  EXPECT_GE(pixels_.capacity(), 40u);  // kept for the next load
}

// Their BMP digests are checked end to end through pdt2bmp (tests/tools).
TEST_P(PdtDifferential, SharedBenchPictures) {
  const std::filesystem::path dir = QUILLON_BENCH_PICTURES;
  if (!std::filesystem::is_directory(dir)) GTEST_SKIP() << "no shared bench pictures in " << dir;
  int checked = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (entry.path().extension() != ".pdt") continue;
    const Bytes file = coretest::ReadBytes(entry.path());
    ASSERT_FALSE(file.empty()) << entry.path();
    Check(file, entry.path().filename().string());
    ++checked;
  }
  EXPECT_GT(checked, 0);
}

INSTANTIATE_TEST_SUITE_P(Kernel, PdtDifferential, testing::ValuesIn(mdl_pdt::KernelNames()),
                         [](const testing::TestParamInfo<const char*>& param) {
                           return std::string(param.param);
                         });

}  // namespace
