// Pictures made by the project's encoder, written to disk, loaded back and
// compared pixel for pixel; then on through the BMP writer.
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>

#include "picture/loaded_picture.h"
#include "pdt/mdl_pdt.h"
#include "tests/core/core_test_support.h"
#include "devtools/pdt_encoder.h"
#include "devtools/sample_art.h"

namespace {

struct Case {
  std::int32_t width;
  std::int32_t height;
  int colours;   // palette size of the runs
  double noise;  // share of random single pixels
};

std::string Name(const Case& c) {
  return std::to_string(c.width) + "x" + std::to_string(c.height) + "_" +
         std::to_string(c.colours) + "colours";
}

void PrintTo(const Case& c, std::ostream* os) {
  *os << Name(c) << " noise " << c.noise;
}

class RoundTrip : public testing::Test {
 protected:
  // Encodes, writes, loads; the load must succeed and match the source.
  void CheckRoundTrip(const std::vector<std::uint32_t>& top_first, std::int32_t w, std::int32_t h,
                      const pdtgen::EncodeOptions& options = {}) {
    const auto path = dir_ / "picture.pdt";
    ASSERT_TRUE(pdtgen::WriteFile(path, pdtgen::EncodePdt(top_first, w, h, options)));
    mdl_pdt::PdtHeader header;
    mdl_pdt::PixelBuffer pixels;
    ASSERT_EQ(mdl_pdt::LoadPdtFile(path, header, pixels), mdl_pdt::PdtStatus::Ok) << w << " x " << h;
    EXPECT_EQ(header.Width, w);
    EXPECT_EQ(header.Height, h);
    ASSERT_EQ(pixels.size(), static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
    const mdl_pdt::PixelBuffer expected = coretest::BottomFirst(top_first, w, h);
    // Report the first differing pixel rather than two huge buffers.
    const auto diff = std::mismatch(pixels.begin(), pixels.end(), expected.begin());
    EXPECT_TRUE(diff.first == pixels.end())
        << w << " x " << h << ": first difference at pixel " << (diff.first - pixels.begin());
  }

  coretest::TempDir dir_;
};

class PdtRoundTrip : public RoundTrip, public testing::WithParamInterface<Case> {};

TEST_P(PdtRoundTrip, EncodedPicturesLoadBackUnchanged) {
  const Case c = GetParam();
  const auto seed = static_cast<std::uint32_t>(c.width * 7919 + c.height);
  const auto top_first = coretest::RandomPicture(c.width, c.height, seed, c.colours, c.noise);
  pdtgen::EncodeOptions options;
  // The largest pictures keep the encoder's search short so the suite stays quick.
  if (static_cast<std::int64_t>(c.width) * c.height > 1'000'000) options.max_chain = 4;
  CheckRoundTrip(top_first, c.width, c.height, options);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, PdtRoundTrip,
    testing::Values(Case{1, 1, 1, 0}, Case{2, 1, 2, 0}, Case{1, 2, 2, 0},
                    // narrow: one copy spans several rows
                    Case{1, 300, 3, 0.05}, Case{3, 97, 4, 0.1}, Case{15, 64, 6, 0.1},
                    Case{15, 1, 2, 0}, Case{16, 16, 3, 0.2}, Case{17, 5, 2, 0.1},
                    // tall and wide
                    Case{2, 3000, 5, 0.1}, Case{3000, 2, 5, 0.1}, Case{1, 5000, 1, 0},
                    Case{5000, 1, 1, 0},
                    // ordinary sizes, flat to noisy
                    Case{64, 48, 16, 0.02}, Case{320, 240, 32, 0.3}, Case{333, 211, 200, 1.0},
                    Case{640, 480, 64, 0.1}, Case{800, 600, 8, 0.01}, Case{2048, 1536, 48, 0.05}),
    [](const testing::TestParamInfo<Case>& param) { return Name(param.param); });

TEST_F(RoundTrip, LiteralOnlyStreamsLoadBackUnchanged) {
  for (const auto& [w, h] : {std::pair{1, 1}, {7, 3}, {16, 9}, {129, 65}}) {
    pdtgen::EncodeOptions options;
    options.literals_only = true;
    CheckRoundTrip(coretest::RandomPicture(w, h, 11, 4, 0.5), w, h, options);
  }
}

TEST_F(RoundTrip, EveryNarrowWidthWithLongRuns) {
  // Single-colour runs make 16-pixel copies that cover several short rows.
  for (std::int32_t w = 1; w < 16; ++w) {
    CheckRoundTrip(coretest::RandomPicture(w, 61, static_cast<std::uint32_t>(w), 2, 0), w, 61);
  }
}

TEST_F(RoundTrip, DrawnPicturesLoadBackUnchanged) {
  const std::pair<std::int32_t, std::int32_t> sizes[] = {
      {1, 1}, {7, 5}, {15, 200}, {16, 16}, {97, 61}, {320, 240}, {640, 480}, {512, 384}};
  std::uint32_t seed = 1;
  for (const auto& [w, h] : sizes) {
    const pdtgen::Picture art = pdtgen::DrawGameArt(w, h, seed++);
    ASSERT_EQ(art.pixels.size(), static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
    CheckRoundTrip(art.pixels, w, h);
    const pdtgen::Picture noise = pdtgen::DrawNoise(w, h, seed++);
    CheckRoundTrip(noise.pixels, w, h);
  }
}

TEST_F(RoundTrip, SamplePicturesLoadBackUnchanged) {
  for (const pdtgen::SamplePicture& sample : pdtgen::SamplePictures()) {
    SCOPED_TRACE(sample.file_name);
    CheckRoundTrip(sample.picture.pixels, sample.picture.width, sample.picture.height);
  }
}

TEST_F(RoundTrip, OnThroughTheBmpWriter) {
  constexpr std::size_t w = 37, h = 23;
  const auto top_first = coretest::RandomPicture(w, h, 5, 10, 0.2);
  const auto pdt = dir_ / "picture.pdt";
  ASSERT_TRUE(pdtgen::WriteFile(pdt, pdtgen::EncodePdt(top_first, w, h)));
  picture::LoadedPicture picture;
  ASSERT_TRUE(mdl_pdt::LoadPdt(pdt, picture.Header, picture.Pixels));
  picture::FillInfoHeader(picture);
  const auto bmp = dir_ / "picture.bmp";
  ASSERT_EQ(picture::WriteBmp(bmp, picture), bmp::WriteStatus::Ok);

  const coretest::Bytes file = coretest::ReadBytes(bmp);
  ASSERT_EQ(file.size(), 58u + w * h * 4u);
  // Row y of the file (counted from the bottom) is row h − 1 − y of the picture.
  for (std::size_t y = 0; y < h; ++y) {
    for (std::size_t x = 0; x < w; ++x) {
      const std::size_t at = 58 + 4 * (y * w + x);
      const std::uint32_t src = top_first[(h - 1 - y) * w + x];
      ASSERT_EQ(file[at + 0], static_cast<std::uint8_t>(src)) << x << "," << y;
      ASSERT_EQ(file[at + 1], static_cast<std::uint8_t>(src >> 8)) << x << "," << y;
      ASSERT_EQ(file[at + 2], static_cast<std::uint8_t>(src >> 16)) << x << "," << y;
      ASSERT_EQ(file[at + 3], 0xFF) << x << "," << y;
    }
  }
}

}  // namespace
