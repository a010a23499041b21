// Runs the built pdt2bmp program on pictures made with the project's encoder.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "picture/loaded_picture.h"
#include "pdt/kernel.h"
#include "tests/tools/tool_runner.h"
#include "cli/convert.h"
#include "devtools/pdt_encoder.h"

namespace {
namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using tooltest::ListFiles;
using tooltest::ReadBytes;
using tooltest::RunResult;
using tooltest::WriteBytes;

struct TestPicture {
  std::int32_t width;
  std::int32_t height;
  std::vector<std::uint32_t> pixels;  // top row first, 0x00RRGGBB
};

// Bands of flat colour with a few stray pixels: both literals and copies.
TestPicture MakePicture(std::int32_t width, std::int32_t height, std::uint32_t seed) {
  TestPicture picture{width, height, {}};
  std::uint32_t state = seed * 2654435761u + 1;
  for (std::int32_t y = 0; y < height; ++y) {
    for (std::int32_t x = 0; x < width; ++x) {
      state = state * 1664525u + 1013904223u;
      const std::uint32_t band = static_cast<std::uint32_t>((x / 5 + y / 3) % 7) * 0x203040u;
      picture.pixels.push_back((state >> 28) == 0 ? (state & 0xFFFFFFu)
                                                  : (band ^ seed) & 0xFFFFFFu);
    }
  }
  return picture;
}

std::vector<std::uint8_t> EncodePicture(const TestPicture& picture) {
  return pdtgen::EncodePdt(picture.pixels, picture.width, picture.height);
}

// The BMP file the viewer's save writes for this picture, made with WriteBmp
// from the picture's own pixels rather than from a decoded file.
std::vector<std::uint8_t> ReferenceBmp(const TestPicture& picture, const fs::path& path) {
  picture::LoadedPicture loaded;
  loaded.Header.FileSize = 33;
  loaded.Header.Width = picture.width;
  loaded.Header.Height = picture.height;
  const auto w = static_cast<std::size_t>(picture.width);
  for (std::size_t row = static_cast<std::size_t>(picture.height); row-- > 0;) {
    for (std::size_t x = 0; x < w; ++x) {
      loaded.Pixels.push_back(0xFF000000u | picture.pixels[row * w + x]);
    }
  }
  picture::FillInfoHeader(loaded);
  EXPECT_EQ(picture::WriteBmp(path, loaded), bmp::WriteStatus::Ok);
  return ReadBytes(path);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class Pdt2Bmp : public ::testing::Test {
 protected:
  Pdt2Bmp() : work_(temp_.path() / "work"), refs_(temp_.path() / "refs") {
    fs::create_directories(work_);
    fs::create_directories(refs_);
  }

  RunResult Run(const std::vector<std::string>& args, bool on_terminal = false) {
    return tooltest::RunProgram(PDT2BMP_PATH, args, work_, on_terminal);
  }

  // Writes a picture as a PDT file under the work folder and returns it.
  TestPicture AddPdt(const fs::path& relative, std::int32_t width = 9, std::int32_t height = 7,
                     std::uint32_t seed = 1) {
    TestPicture picture = MakePicture(width, height, seed);
    WriteBytes(work_ / relative, EncodePicture(picture));
    return picture;
  }

  std::vector<std::uint8_t> Expected(const TestPicture& picture) {
    return ReferenceBmp(picture, refs_ / ("ref" + std::to_string(next_ref_++) + ".bmp"));
  }

  tooltest::TempDir temp_;
  fs::path work_;
  fs::path refs_;
  int next_ref_ = 0;
};

// --- command line -----------------------------------------------------------

TEST_F(Pdt2Bmp, UsageErrorsExitWithTwoAndTouchNothing) {
  AddPdt("a.pdt");
  fs::create_directories(work_ / "folder");
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"-x", "a.pdt"},
      {"--frobnicate", "a.pdt"},
      {"-j", "0", "-o", "out", "a.pdt"},
      {"-j", "many", "-o", "out", "a.pdt"},
      {"-j", "2000", "-o", "out", "a.pdt"},
      {"-o", "out", "a.pdt", "-j"},
      {"-o"},
      {"-o", "out"},
      {"--force=yes", "a.pdt"},
      {"a.pdt", "b.bmp", "c.bmp"},
      {"folder", "out.bmp"},
  };
  for (const auto& args : cases) {
    const RunResult result = Run(args);
    SCOPED_TRACE(::testing::PrintToString(args));
    EXPECT_EQ(result.status, 2);
    EXPECT_THAT(result.err, HasSubstr("usage: pdt2bmp"));
    EXPECT_THAT(result.out, IsEmpty());
  }
  EXPECT_THAT(ListFiles(work_), ElementsAre("a.pdt"));
}

TEST_F(Pdt2Bmp, HelpAndVersionGoToStdout) {
  const RunResult help = Run({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_THAT(help.out, HasSubstr("usage: pdt2bmp"));
  EXPECT_THAT(help.out, HasSubstr("--force"));
  EXPECT_THAT(help.err, IsEmpty());

  const RunResult version = Run({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, std::string("pdt2bmp (Quillon) " QUILLON_VERSION "\n") +
                             "PDT decoding kernel: " + mdl_pdt::KernelInUse() + "\n");
  EXPECT_THAT(version.err, IsEmpty());
}

// QUILLON_PDT_KERNEL chooses the kernel; one it cannot run, or does not know,
// is ignored with one line on stderr, and the best one is used.
TEST_F(Pdt2Bmp, TheEnvironmentChoosesTheDecodingKernel) {
  const std::string best = mdl_pdt::KernelInUse();  // this process chose without the variable
  auto with_kernel = [&](const char* name) {
    ::setenv("QUILLON_PDT_KERNEL", name, 1);
    RunResult result = Run({"--version"});
    ::unsetenv("QUILLON_PDT_KERNEL");
    return result;
  };
  const RunResult portable = with_kernel("portable");
  EXPECT_EQ(portable.status, 0);
  EXPECT_THAT(portable.out, HasSubstr("PDT decoding kernel: portable\n"));
  EXPECT_THAT(portable.err, IsEmpty());

  std::vector<std::string> refused = {"sse9"};
  for (const char* name : mdl_pdt::KernelNames()) {
    if (!mdl_pdt::KernelRunnable(name)) refused.emplace_back(name);
  }
  for (const std::string& name : refused) {
    const RunResult result = with_kernel(name.c_str());
    EXPECT_EQ(result.status, 0) << name;
    EXPECT_THAT(result.out, HasSubstr("PDT decoding kernel: " + best + "\n")) << name;
    EXPECT_THAT(result.err, HasSubstr(name)) << name;
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
  }
}

TEST(Pdt2BmpArguments, ShortOptionsBundleAndTakeAttachedValues) {
  const pdt2bmp::ParsedArguments parsed =
      pdt2bmp::ParseArguments({"-qfr", "-j3", "-oout", "--", "-odd.pdt"});
  ASSERT_THAT(parsed.error, IsEmpty());
  const pdt2bmp::Options& options = parsed.options;
  EXPECT_TRUE(options.quiet && options.force && options.recursive);
  EXPECT_EQ(options.jobs, 3u);
  EXPECT_EQ(options.out_dir, fs::path("out"));
  EXPECT_THAT(options.operands, ElementsAre(fs::path("-odd.pdt")));

  const pdt2bmp::ParsedArguments long_form =
      pdt2bmp::ParseArguments({"--jobs=4", "--output", "dir", "--quiet", "x"});
  ASSERT_THAT(long_form.error, IsEmpty());
  EXPECT_EQ(long_form.options.jobs, 4u);
  EXPECT_EQ(long_form.options.out_dir, fs::path("dir"));
  EXPECT_TRUE(long_form.options.quiet);
  EXPECT_FALSE(long_form.options.force);
}

// --- output names -----------------------------------------------------------

TEST(Pdt2BmpNames, ProposedNameReplacesTheLastThreeCharacters) {
  EXPECT_EQ(picture::ProposedName("EV001.PDT"), "EV001.bmp");
  EXPECT_EQ(picture::ProposedName("title.pdt"), "title.bmp");
  EXPECT_EQ(picture::ProposedName("mixed.pDt"), "mixed.bmp");
  EXPECT_EQ(picture::ProposedName("nodotpdt"), "nodotbmp");
  // Not a PDT name: the output must not end up with the input's own name.
  EXPECT_EQ(picture::ProposedName("picture.bmp"), "picture.bmp.bmp");
}

TEST_F(Pdt2Bmp, SingleFileIsWrittenBesideItsInput) {
  const TestPicture picture = AddPdt("scenes/EV001.PDT", 12, 5);
  const RunResult result = Run({"scenes/EV001.PDT"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(ReadBytes(work_ / "scenes/EV001.bmp"), Expected(picture));
  EXPECT_EQ(result.err, "converted 1 of 1 files\n");
}

TEST_F(Pdt2Bmp, ExplicitOutputNameOrFolder) {
  const TestPicture picture = AddPdt("title.pdt");
  EXPECT_EQ(Run({"title.pdt", "renamed.bmp"}).status, 0);
  EXPECT_EQ(ReadBytes(work_ / "renamed.bmp"), Expected(picture));

  fs::create_directories(work_ / "into");
  EXPECT_EQ(Run({"title.pdt", "into"}).status, 0);
  EXPECT_EQ(ReadBytes(work_ / "into/title.bmp"), Expected(picture));
}

TEST_F(Pdt2Bmp, FolderContributesPdtFilesInAnyCase) {
  AddPdt("in/a.pdt", 3, 3, 1);
  AddPdt("in/B.PDT", 4, 2, 2);
  AddPdt("in/c.Pdt", 2, 5, 3);
  AddPdt("in/d.txt");
  AddPdt("in/e.pdt.bak");
  AddPdt("in/x.pdt/inner.pdt");  // a folder named like a picture
  const RunResult result = Run({"-o", "out", "in"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_THAT(ListFiles(work_ / "out"), ElementsAre("B.bmp", "a.bmp", "c.bmp"));
  EXPECT_EQ(result.err, "converted 3 of 3 files\n");

  // Without -o the files are converted beside themselves.
  EXPECT_EQ(Run({"-q", "in"}).status, 0);
  EXPECT_THAT(ListFiles(work_ / "in"),
              ElementsAre("B.PDT", "B.bmp", "a.bmp", "a.pdt", "c.Pdt", "c.bmp", "d.txt",
                          "e.pdt.bak", "x.pdt/inner.pdt"));
}

TEST_F(Pdt2Bmp, RecursiveRunKeepsTheSubfolderStructure) {
  const TestPicture top = AddPdt("in/top.pdt", 5, 5, 1);
  const TestPicture mid = AddPdt("in/ch1/mid.PDT", 6, 4, 2);
  const TestPicture deep = AddPdt("in/ch1/bg/deep.pdt", 7, 3, 3);
  AddPdt("loose.pdt", 2, 2, 4);

  const RunResult flat = Run({"-o", "flat", "in"});
  EXPECT_EQ(flat.status, 0);
  EXPECT_THAT(ListFiles(work_ / "flat"), ElementsAre("top.bmp"));

  const RunResult result = Run({"-r", "-o", "deep/er", "in", "loose.pdt"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_THAT(ListFiles(work_ / "deep/er"),
              ElementsAre("ch1/bg/deep.bmp", "ch1/mid.bmp", "loose.bmp", "top.bmp"));
  EXPECT_EQ(ReadBytes(work_ / "deep/er/ch1/bg/deep.bmp"), Expected(deep));
  EXPECT_EQ(ReadBytes(work_ / "deep/er/ch1/mid.bmp"), Expected(mid));
  EXPECT_EQ(ReadBytes(work_ / "deep/er/top.bmp"), Expected(top));
}

TEST_F(Pdt2Bmp, SecondInputForTheSameOutputFailsInsteadOfOverwriting) {
  const TestPicture first = AddPdt("in/EV001.PDT", 4, 4, 1);
  AddPdt("in/EV001.pdt", 4, 4, 2);
  const RunResult result = Run({"-o", "out", "in"});
  EXPECT_EQ(result.status, 1);
  EXPECT_THAT(ListFiles(work_ / "out"), ElementsAre("EV001.bmp"));
  EXPECT_EQ(ReadBytes(work_ / "out/EV001.bmp"), Expected(first));
  const std::vector<std::string> lines = Lines(result.err);
  ASSERT_EQ(lines.size(), 2u) << result.err;
  EXPECT_THAT(lines[0], HasSubstr("pdt2bmp: in/EV001.pdt: "));
  EXPECT_THAT(lines[0], HasSubstr("already the output of in/EV001.PDT"));
  EXPECT_EQ(lines[1], "converted 1 of 2 files, 1 failed");
}

// --- output bytes -----------------------------------------------------------

TEST_F(Pdt2Bmp, OutputEqualsWhatTheBmpWriterProduces) {
  const std::vector<std::pair<std::int32_t, std::int32_t>> sizes = {
      {1, 1}, {2, 2}, {3, 1}, {1, 5}, {17, 3}, {64, 48}, {301, 7}};
  std::vector<TestPicture> pictures;
  for (std::size_t k = 0; k < sizes.size(); ++k) {
    pictures.push_back(AddPdt("in/p" + std::to_string(k) + ".pdt", sizes[k].first, sizes[k].second,
                              static_cast<std::uint32_t>(k + 10)));
  }
  ASSERT_EQ(Run({"-q", "-o", "out", "in"}).status, 0);
  for (std::size_t k = 0; k < sizes.size(); ++k) {
    SCOPED_TRACE(k);
    const std::vector<std::uint8_t> bytes =
        ReadBytes(work_ / "out" / ("p" + std::to_string(k) + ".bmp"));
    EXPECT_EQ(bytes.size(), 58u + static_cast<std::size_t>(sizes[k].first * sizes[k].second) * 4);
    EXPECT_EQ(bytes, Expected(pictures[k]));
  }
}

// --- failures ---------------------------------------------------------------

TEST_F(Pdt2Bmp, EachFailureGetsOneLineNamingFileAndReason) {
  const TestPicture good = AddPdt("in/00good.pdt", 8, 8, 5);

  std::vector<std::uint8_t> not_pdt = EncodePicture(MakePicture(4, 4, 1));
  not_pdt[0] = 'X';
  not_pdt[1] = 'Y';
  not_pdt[2] = 'Z';
  WriteBytes(work_ / "in/notpdt.pdt", not_pdt);

  WriteBytes(work_ / "in/short.pdt", {'P', 'D', 'T', '1', '0', 0, 0, 0, 40, 0});

  WriteBytes(work_ / "in/huge.pdt", [] {
    std::vector<std::uint8_t> bytes = pdtgen::MakeHeader(50000, 50000, 16);
    bytes.resize(bytes.size() + 16, 0xFF);
    return bytes;
  }());

  std::vector<std::uint8_t> cut = EncodePicture(MakePicture(40, 40, 2));
  cut.resize(cut.size() / 2);  // the header still announces the whole stream
  WriteBytes(work_ / "in/cut.pdt", cut);

  // A flag byte of copies whose first token reaches back before pixel 0.
  std::vector<std::uint8_t> back = pdtgen::MakeHeader(4, 4, 17);
  back.push_back(0x00);
  back.insert(back.end(), 16, 0x00);
  WriteBytes(work_ / "in/back.pdt", back);

  ASSERT_EQ(mkfifo((work_ / "pipe.pdt").c_str(), 0644), 0);  // would block a reader

  const RunResult result = Run({"-o", "out", "in", "missing.pdt", "pipe.pdt"});
  EXPECT_EQ(result.status, 1);
  EXPECT_THAT(ListFiles(work_ / "out"), ElementsAre("00good.bmp"));
  EXPECT_EQ(ReadBytes(work_ / "out/00good.bmp"), Expected(good));

  std::vector<std::string> lines = Lines(result.err);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "converted 1 of 8 files, 7 failed");
  lines.pop_back();
  EXPECT_THAT(lines, ::testing::UnorderedElementsAre(
                         "pdt2bmp: in/notpdt.pdt: not a PDT10 file",
                         "pdt2bmp: in/short.pdt: header too short (a PDT file starts with 32 "
                         "header bytes)",
                         "pdt2bmp: in/huge.pdt: picture too large",
                         "pdt2bmp: in/cut.pdt: stream ends before the picture is complete",
                         "pdt2bmp: in/back.pdt: copy before the first pixel",
                         "pdt2bmp: missing.pdt: cannot open the file (No such file or directory)",
                         "pdt2bmp: pipe.pdt: not a regular file"));
}

TEST_F(Pdt2Bmp, UnwritableOutputsAreReported) {
  AddPdt("in/a.pdt", 3, 3, 1);
  AddPdt("in/b.pdt", 3, 3, 2);
  fs::create_directories(work_ / "out/a.bmp");  // a folder where the file should go
  WriteBytes(work_ / "blocker", {1, 2, 3});     // a file where a folder should go

  const RunResult into_folder = Run({"-f", "-o", "out", "in"});
  EXPECT_EQ(into_folder.status, 1);
  EXPECT_THAT(into_folder.err, HasSubstr("pdt2bmp: in/a.pdt: cannot write out/a.bmp (a folder has that name)\n"));
  EXPECT_TRUE(fs::is_directory(work_ / "out/a.bmp"));
  EXPECT_TRUE(fs::is_regular_file(work_ / "out/b.bmp"));

  const RunResult under_file = Run({"-r", "in/a.pdt", "blocker/sub/a.bmp"});
  EXPECT_EQ(under_file.status, 1);
  EXPECT_THAT(under_file.err, HasSubstr("pdt2bmp: in/a.pdt: cannot create the folder blocker/sub"));
  EXPECT_EQ(ReadBytes(work_ / "blocker"), (std::vector<std::uint8_t>{1, 2, 3}));
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kUnderAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kUnderAddressSanitizer = true;
#else
constexpr bool kUnderAddressSanitizer = false;
#endif
#else
constexpr bool kUnderAddressSanitizer = false;
#endif

TEST_F(Pdt2Bmp, PictureLargerThanTheMemoryAtHandIsAFailureNotACrash) {
  if (kUnderAddressSanitizer) GTEST_SKIP() << "the sanitizer needs more address space";
  // 8192 × 4096 pixels need 128 MiB; the program may use 96 MiB in all.
  const std::size_t payload = 4u << 20;
  std::vector<std::uint8_t> bytes = pdtgen::MakeHeader(8192, 4096, payload);
  bytes.resize(bytes.size() + payload, 0);
  WriteBytes(work_ / "big.pdt", bytes);
  const TestPicture small = AddPdt("small.pdt", 5, 5, 3);

  const RunResult result =
      tooltest::RunProgram("/bin/sh",
                           {"-c", "ulimit -v 98304 && exec \"$0\" \"$@\"", PDT2BMP_PATH, "-j", "1",
                            "-o", "out", "big.pdt", "small.pdt"},
                           work_);
  EXPECT_EQ(result.status, 1) << result.err;
  EXPECT_THAT(result.err, HasSubstr("pdt2bmp: big.pdt: not enough memory for the picture\n"));
  EXPECT_EQ(ReadBytes(work_ / "out/small.bmp"), Expected(small));
  EXPECT_FALSE(fs::exists(work_ / "out/big.bmp"));
}

TEST_F(Pdt2Bmp, FullDiskNamesTheReasonAndKeepsTheOldFile) {
  // A 64 KiB file system of its own, in a mount namespace of its own; skipped
  // where mounting is not allowed.
  AddPdt("big.pdt", 200, 200, 4);  // 160 KB as BMP
  fs::create_directories(work_ / "small");
  WriteBytes(work_ / "old.bmp", {'B', 'M', 1, 2, 3});
  const RunResult result = tooltest::RunProgram(
      "/bin/sh",
      {"-c",
       "unshare -m sh -c 'mount -t tmpfs -o size=64k tmpfs small' 2>/dev/null || exit 77; "
       "exec unshare -m sh -c 'mount -t tmpfs -o size=64k tmpfs small && cp old.bmp small/big.bmp "
       "&& \"$0\" -f -q big.pdt small/big.bmp; s=$?; cmp old.bmp small/big.bmp || exit 9; "
       "ls -A small >&2; exit $s' \"$0\"",
       PDT2BMP_PATH},
      work_);
  if (result.status == 77) GTEST_SKIP() << "cannot mount a small file system here";
  EXPECT_EQ(result.status, 1) << result.err;
  EXPECT_THAT(result.err, HasSubstr("pdt2bmp: big.pdt: cannot write small/big.bmp (no space left "
                                    "on the device)\n"));
  // The old file is intact (cmp) and no temporary file is left beside it.
  EXPECT_THAT(Lines(result.err), ElementsAre(HasSubstr("no space left"), "big.bmp"));
}

TEST_F(Pdt2Bmp, ReplacedFileKeepsItsPermissions) {
  AddPdt("a.pdt");
  WriteBytes(work_ / "a.bmp", {1});
  fs::permissions(work_ / "a.bmp", fs::perms(0664));
  ASSERT_EQ(Run({"-f", "-q", "a.pdt"}).status, 0);
  EXPECT_EQ(fs::status(work_ / "a.bmp").permissions(), fs::perms(0664));
  EXPECT_GT(fs::file_size(work_ / "a.bmp"), 58u);
}

// --- existing files ---------------------------------------------------------

TEST_F(Pdt2Bmp, ExistingFileIsKeptUnlessForced) {
  const TestPicture picture = AddPdt("in/a.pdt", 6, 6, 7);
  const TestPicture other = AddPdt("in/b.pdt", 5, 5, 8);
  const std::vector<std::uint8_t> old_bytes = {'o', 'l', 'd'};
  WriteBytes(work_ / "out/a.bmp", old_bytes);

  const RunResult kept = Run({"-o", "out", "in"});
  EXPECT_EQ(kept.status, 1);
  EXPECT_EQ(ReadBytes(work_ / "out/a.bmp"), old_bytes);
  EXPECT_EQ(ReadBytes(work_ / "out/b.bmp"), Expected(other));
  EXPECT_THAT(Lines(kept.err),
              ElementsAre("pdt2bmp: in/a.pdt: out/a.bmp already exists (use --force to replace)",
                          "converted 1 of 2 files, 1 failed"));

  const RunResult forced = Run({"--force", "-o", "out", "in"});
  EXPECT_EQ(forced.status, 0) << forced.err;
  EXPECT_EQ(ReadBytes(work_ / "out/a.bmp"), Expected(picture));
  // Only complete files are left behind; no temporary files remain.
  EXPECT_THAT(ListFiles(work_ / "out"), ElementsAre("a.bmp", "b.bmp"));
}

TEST_F(Pdt2Bmp, ForceNeverReplacesTheInputItself) {
  const std::vector<std::uint8_t> input = EncodePicture(MakePicture(4, 4, 3));
  WriteBytes(work_ / "same.pdt", input);
  const RunResult result = Run({"-f", "same.pdt", "./same.pdt"});
  EXPECT_EQ(result.status, 1);
  EXPECT_THAT(result.err, HasSubstr("pdt2bmp: same.pdt: "));
  EXPECT_EQ(ReadBytes(work_ / "same.pdt"), input);
}

// --- quiet and progress -----------------------------------------------------

TEST_F(Pdt2Bmp, QuietPrintsOnlyErrors) {
  AddPdt("in/a.pdt");
  const RunResult clean = Run({"-q", "-o", "out", "in"});
  EXPECT_EQ(clean.status, 0);
  EXPECT_THAT(clean.err, IsEmpty());
  EXPECT_THAT(clean.out, IsEmpty());

  WriteBytes(work_ / "in/bad.pdt", {'n', 'o', 'p', 'e'});
  const RunResult failed = Run({"-q", "-f", "-o", "out", "in"}, /*on_terminal=*/true);
  EXPECT_EQ(failed.status, 1);
  EXPECT_THAT(Lines(failed.err), ElementsAre(::testing::StartsWith("pdt2bmp: in/bad.pdt: ")));
}

TEST_F(Pdt2Bmp, ProgressBarOnlyOnATerminal) {
  AddPdt("in/a.pdt");
  AddPdt("in/b.pdt");
  const RunResult terminal = Run({"-o", "out", "in"}, /*on_terminal=*/true);
  EXPECT_EQ(terminal.status, 0);
  EXPECT_THAT(terminal.err, HasSubstr("] 2/2 files"));
  EXPECT_THAT(terminal.err, HasSubstr("converted 2 of 2 files"));

  const RunResult file = Run({"-f", "-o", "out", "in"});
  EXPECT_EQ(file.err, "converted 2 of 2 files\n");
}

// --- parallel runs ----------------------------------------------------------

TEST_F(Pdt2Bmp, ParallelRunMatchesSingleThreadedRun) {
  for (int k = 0; k < 40; ++k) {
    AddPdt("in/pic" + std::to_string(k) + ".pdt", 20 + k * 3, 10 + k,
           static_cast<std::uint32_t>(k));
  }
  for (int k = 0; k < 12; ++k) {
    WriteBytes(work_ / "in" / ("broken" + std::to_string(k) + ".pdt"), {'P', 'D', 'T', '1', '0'});
  }
  const RunResult serial = Run({"-j", "1", "-o", "serial", "in"});
  const RunResult parallel = Run({"-j", "8", "-o", "parallel", "in"});
  EXPECT_EQ(serial.status, 1);
  EXPECT_EQ(parallel.status, 1);

  const std::vector<std::string> names = ListFiles(work_ / "serial");
  ASSERT_EQ(names.size(), 40u);
  EXPECT_EQ(ListFiles(work_ / "parallel"), names);
  for (const std::string& name : names) {
    EXPECT_EQ(ReadBytes(work_ / "parallel" / name), ReadBytes(work_ / "serial" / name)) << name;
  }
  // Lines from different workers never run into each other.
  const std::regex failure_line(R"(pdt2bmp: in/broken\d+\.pdt: header too short \(.*\))");
  std::vector<std::string> lines = Lines(parallel.err);
  ASSERT_EQ(lines.size(), 13u) << parallel.err;
  EXPECT_EQ(lines.back(), "converted 40 of 52 files, 12 failed");
  lines.pop_back();
  for (const std::string& line : lines) EXPECT_TRUE(std::regex_match(line, failure_line)) << line;
}

}  // namespace

// --- names from Japanese archives -------------------------------------------

// "背景" and "データ" as Shift-JIS bytes, which are not UTF-8.
const std::string kSjisScene = "\x94\x77\x8C\x69";
const std::string kSjisFolder = "\x83\x66\x81\x5B\x83\x5E";

TEST_F(Pdt2Bmp, ShiftJisNamesKeepTheirBytesOrBecomeUtf8AndAreShownReadably) {
  const TestPicture scene = AddPdt("in/" + kSjisScene + ".PDT", 6, 4, 5);
  const TestPicture nested = AddPdt("in/" + kSjisFolder + "/" + kSjisScene + ".pdt", 3, 3, 6);
  WriteBytes(work_ / ("in/" + kSjisFolder + "/\x89\xF3.PDT"), {'n', 'o', 't'});  // "壊"
  WriteBytes(work_ / "in/\xFF\xFE.pdt", {'n', 'o', 't'});  // neither UTF-8 nor Shift-JIS

  // Without the option the outputs keep the inputs' bytes.
  const RunResult kept = Run({"-q", "-r", "-o", "kept", "in"});
  EXPECT_EQ(kept.status, 1);
  EXPECT_EQ(ReadBytes(work_ / "kept" / (kSjisScene + ".bmp")), Expected(scene));
  EXPECT_EQ(ReadBytes(work_ / "kept" / kSjisFolder / (kSjisScene + ".bmp")), Expected(nested));
  // Either way a failure names its file readably.
  const auto failures = ::testing::UnorderedElementsAre(
      "pdt2bmp: in/データ/壊.PDT: header too short (a PDT file starts with 32 header bytes)",
      "pdt2bmp: in/\\xFF\\xFE.pdt: header too short (a PDT file starts with 32 header bytes)");
  EXPECT_THAT(Lines(kept.err), failures);

  // With it, Shift-JIS names of files and of folders below -o DIR become UTF-8.
  const RunResult converted = Run({"-q", "-r", "--sjis-names", "-o", "utf8", "in"});
  EXPECT_EQ(converted.status, 1);
  EXPECT_THAT(ListFiles(work_ / "utf8"), ElementsAre("データ/背景.bmp", "背景.bmp"));
  EXPECT_EQ(ReadBytes(work_ / "utf8/背景.bmp"), Expected(scene));
  EXPECT_EQ(ReadBytes(work_ / "utf8/データ/背景.bmp"), Expected(nested));
  EXPECT_THAT(Lines(converted.err), failures);

  // A single file is converted beside itself under the UTF-8 name.
  const RunResult single = Run({"--sjis-names", "in/" + kSjisScene + ".PDT"});
  EXPECT_EQ(single.status, 0) << single.err;
  EXPECT_EQ(ReadBytes(work_ / "in/背景.bmp"), Expected(scene));
}
