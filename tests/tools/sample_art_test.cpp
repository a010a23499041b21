// The drawn sample pictures, and the quillon-samples program that writes them
// as PDT files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <string>

#include "pdt/mdl_pdt.h"
#include "tests/tools/tool_runner.h"
#include "devtools/pdt_encoder.h"
#include "devtools/sample_art.h"

namespace {

namespace fs = std::filesystem;

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
  return s;
}

std::size_t PayloadSize(const pdtgen::Picture& pic) {
  return pdtgen::EncodeStream(pic.pixels).size();
}

// Loads `path` and compares it with `pic` drawn top row first.
::testing::AssertionResult LoadsAs(const fs::path& path, const pdtgen::Picture& pic) {
  mdl_pdt::PdtHeader header;
  mdl_pdt::PixelBuffer pixels;
  const mdl_pdt::PdtStatus status = mdl_pdt::LoadPdtFile(path, header, pixels);
  if (status != mdl_pdt::PdtStatus::Ok) {
    return ::testing::AssertionFailure() << path << ": " << mdl_pdt::Describe(status);
  }
  if (header.Width != pic.width || header.Height != pic.height) {
    return ::testing::AssertionFailure() << path << " is " << header.Width << "x" << header.Height;
  }
  const auto w = static_cast<std::size_t>(pic.width);
  const auto h = static_cast<std::size_t>(pic.height);
  for (std::size_t row = 0; row < h; ++row) {
    for (std::size_t x = 0; x < w; ++x) {
      if (pixels[(h - 1 - row) * w + x] != pic.pixels[row * w + x]) {
        return ::testing::AssertionFailure() << path << " differs at row " << row << ", x " << x;
      }
    }
  }
  return ::testing::AssertionSuccess();
}

TEST(DrawGameArt, SameSeedSamePictureOtherSeedAnother) {
  const pdtgen::Picture a = pdtgen::DrawGameArt(320, 240, 5);
  EXPECT_EQ(a.pixels, pdtgen::DrawGameArt(320, 240, 5).pixels);
  EXPECT_NE(a.pixels, pdtgen::DrawGameArt(320, 240, 6).pixels);
  EXPECT_EQ(pdtgen::DrawNoise(64, 64, 1).pixels, pdtgen::DrawNoise(64, 64, 1).pixels);
  EXPECT_NE(pdtgen::DrawNoise(64, 64, 1).pixels, pdtgen::DrawNoise(64, 64, 2).pixels);
}

TEST(DrawGameArt, EverySizeIsFilledWithOpaquePixels) {
  const std::pair<int, int> sizes[] = {{1, 1},    {1, 57},    {57, 1},    {3, 2},
                                       {48, 400}, {200, 900}, {641, 479}, {1920, 1080}};
  for (const auto& [w, h] : sizes) {
    for (std::uint32_t seed : {0u, 1u, 2u, 0xFFFFFFFFu}) {
      const pdtgen::Picture pic = pdtgen::DrawGameArt(w, h, seed);
      ASSERT_EQ(pic.width, w);
      ASSERT_EQ(pic.height, h);
      ASSERT_EQ(pic.pixels.size(), static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
      EXPECT_TRUE(std::all_of(pic.pixels.begin(), pic.pixels.end(),
                              [](std::uint32_t p) { return p >> 24 == 0xFFu; }))
          << w << "x" << h << " seed " << seed;
    }
  }
  EXPECT_TRUE(pdtgen::DrawGameArt(0, 10, 1).pixels.empty());
  EXPECT_TRUE(pdtgen::DrawGameArt(10, -3, 1).pixels.empty());
}

// Game art is many colours in flat areas: it must be varied and still
// compress well, where noise hardly compresses at all.
TEST(DrawGameArt, VariedButCompressibleUnlikeNoise) {
  const pdtgen::Picture art = pdtgen::DrawGameArt(640, 480, 3);
  const std::set<std::uint32_t> colours(art.pixels.begin(), art.pixels.end());
  EXPECT_GE(colours.size(), 24u);
  const std::size_t literal_size = art.pixels.size() * 3;
  EXPECT_LT(PayloadSize(art), literal_size / 6);

  const pdtgen::Picture noise = pdtgen::DrawNoise(320, 240, 3);
  EXPECT_GT(PayloadSize(noise), noise.pixels.size() * 3);
}

TEST(SamplePictures, NamesSizesAndShapes) {
  const auto samples = pdtgen::SamplePictures();
  ASSERT_GE(samples.size(), 6u);
  ASSERT_LE(samples.size(), 8u);
  std::set<std::string> names;
  bool mixed_case_extension = false;
  bool narrow = false;
  bool tall = false;
  for (const auto& s : samples) {
    const std::string name = s.file_name;
    ASSERT_GT(name.size(), 4u);
    const std::string ext = name.substr(name.size() - 4);
    EXPECT_EQ(Lower(ext), ".pdt") << name;
    if (ext != ".pdt") mixed_case_extension = true;
    EXPECT_TRUE(names.insert(Lower(name)).second) << "two samples named " << name;
    EXPECT_EQ(s.picture.pixels.size(), static_cast<std::size_t>(s.picture.width) *
                                           static_cast<std::size_t>(s.picture.height));
    if (s.picture.width < 64 && s.picture.height >= 5 * s.picture.width) narrow = true;
    if (s.picture.width >= 64 && s.picture.height >= 4 * s.picture.width) tall = true;
  }
  EXPECT_TRUE(mixed_case_extension);
  EXPECT_TRUE(narrow);
  EXPECT_TRUE(tall);
}

TEST(QuillonSamples, WritesEverySampleIntoAFolderItCreates) {
  tooltest::TempDir temp;
  const fs::path out = temp.path() / "new" / "samples";
  const auto run = tooltest::RunProgram(QUILLON_SAMPLES_PATH, {out.string()}, temp.path());
  ASSERT_EQ(run.status, 0) << run.err;
  const auto samples = pdtgen::SamplePictures();
  EXPECT_EQ(tooltest::ListFiles(out).size(), samples.size());
  for (const auto& s : samples) EXPECT_TRUE(LoadsAs(out / s.file_name, s.picture));

  // A second run over the same folder replaces the files with the same bytes.
  const auto before = tooltest::ReadBytes(out / samples.front().file_name);
  ASSERT_EQ(tooltest::RunProgram(QUILLON_SAMPLES_PATH, {out.string()}, temp.path()).status, 0);
  EXPECT_EQ(tooltest::ReadBytes(out / samples.front().file_name), before);
}

TEST(QuillonSamples, FailsWithoutAUsableFolder) {
  tooltest::TempDir temp;
  const auto no_args = tooltest::RunProgram(QUILLON_SAMPLES_PATH, {}, temp.path());
  EXPECT_EQ(no_args.status, 2);
  EXPECT_NE(no_args.err.find("usage"), std::string::npos);

  tooltest::WriteBytes(temp.path() / "file", {1, 2, 3});
  const auto on_file =
      tooltest::RunProgram(QUILLON_SAMPLES_PATH, {(temp.path() / "file").string()}, temp.path());
  EXPECT_NE(on_file.status, 0);
}

// The build leaves the sample folder ready for the run command.
TEST(QuillonSamples, BuildFillsTheSampleFolder) {
  for (const auto& s : pdtgen::SamplePictures()) {
    EXPECT_TRUE(LoadsAs(fs::path(QUILLON_SAMPLES_DIR) / s.file_name, s.picture));
  }
}

}  // namespace
