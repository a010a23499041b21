// The token stream: literals, copies, row ends and where decoding stops,
// with streams built by hand; then flipping the rows.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>

#include "pdt/mdl_pdt.h"
#include "tests/core/core_test_support.h"

namespace {

using coretest::Bytes;
using coretest::Px;
using coretest::StreamBuilder;

struct Decoded {
  mdl_pdt::PdtStatus status;
  mdl_pdt::PixelBuffer pixels;
};

Decoded Decode(const Bytes& payload, std::int32_t width, std::int32_t height) {
  Decoded d{mdl_pdt::PdtStatus::Ok, mdl_pdt::PixelBuffer(3, 0xDEADBEEF)};  // replaced whatever the result
  d.status = mdl_pdt::DecodeStream(payload, width, height, d.pixels);
  return d;
}

const std::uint32_t kA = Px(0x11, 0x22, 0x33);
const std::uint32_t kB = Px(0xA0, 0xB0, 0xC0);
const std::uint32_t kC = Px(0x01, 0x02, 0x03);

TEST(PdtStream, DecodesALiteralFollowedByARepeat) {
  const Decoded d = Decode({0x80, 0x10, 0x20, 0x30, 0x02, 0x00}, 4, 1);
  ASSERT_EQ(d.status, mdl_pdt::PdtStatus::Ok);
  EXPECT_EQ(d.pixels, mdl_pdt::PixelBuffer(4, 0xFF302010u));
}

TEST(PdtStream, LiteralBytesAreBlueGreenRed) {
  const Decoded d = Decode({0xC0, 0x01, 0x02, 0x03, 0xFF, 0x00, 0x80}, 2, 1);
  ASSERT_EQ(d.status, mdl_pdt::PdtStatus::Ok);
  EXPECT_EQ(d.pixels, (mdl_pdt::PixelBuffer{0xFF030201u, 0xFF8000FFu}));
}

TEST(PdtStream, FlagBitsAreUsedFromTheHighestDown) {
  // Literal, copy, literal, copy, literal, literal, copy, literal: flag 0xAD;
  // the ninth token opens a second group with its own flag byte.
  StreamBuilder s;
  s.Literal(kA)
      .Copy(1, 1)
      .Literal(kB)
      .Copy(2, 2)
      .Literal(kC)
      .Literal(kA)
      .Copy(3, 1)
      .Literal(kB)
      .Copy(1, 3);
  ASSERT_EQ(s.bytes()[0], 0xAD);
  const Decoded d = Decode(s.bytes(), 12, 1);
  ASSERT_EQ(d.status, mdl_pdt::PdtStatus::Ok);
  EXPECT_EQ(d.pixels, (mdl_pdt::PixelBuffer{kA, kA, kB, kA, kB, kC, kA, kB, kB, kB, kB, kB}));
}

TEST(PdtStream, EveryCopyLengthFromOneToSixteen) {
  for (std::size_t n = 1; n <= 16; ++n) {
    // The literal after the copy must land exactly n pixels later.
    StreamBuilder s;
    s.Literal(kA).Copy(1, n).Literal(kB);
    const Decoded d = Decode(s.bytes(), static_cast<std::int32_t>(n + 2), 1);
    ASSERT_EQ(d.status, mdl_pdt::PdtStatus::Ok) << "length " << n;
    mdl_pdt::PixelBuffer expected(n + 2, kA);
    expected.back() = kB;
    EXPECT_EQ(d.pixels, expected) << "length " << n;
  }
}

TEST(PdtStream, OverlappingCopiesRepeatWhatWasJustWritten) {
  // Distance 2, length 4 after A, B: A, B, A, B.
  const Decoded d = Decode({0xC0, 0x33, 0x22, 0x11, 0xC0, 0xB0, 0xA0, 0x13, 0x00}, 6, 1);
  ASSERT_EQ(d.status, mdl_pdt::PdtStatus::Ok);
  EXPECT_EQ(d.pixels, (mdl_pdt::PixelBuffer{kA, kB, kA, kB, kA, kB}));

  // Distance 3, length 16: the three-pixel pattern repeats.
  StreamBuilder s;
  s.Literal(kA).Literal(kB).Literal(kC).Copy(3, 16);
  const Decoded e = Decode(s.bytes(), 19, 1);
  ASSERT_EQ(e.status, mdl_pdt::PdtStatus::Ok);
  for (std::size_t k = 0; k < 19; ++k) EXPECT_EQ(e.pixels[k], (mdl_pdt::PixelBuffer{kA, kB, kC}[k % 3]));
}

// Pixels 0, 1, 2, ... as distinct colours, all as literals.
StreamBuilder Literals(std::size_t count) {
  StreamBuilder s;
  for (std::size_t k = 0; k < count; ++k) s.Literal(static_cast<std::uint32_t>(k * 2654435761u));
  return s;
}

TEST(PdtStream, ACopyAfterLiteralsRepeatsTheLatestPixel) {
  // Runs of 1 to 24 distinct literals, then short copies, in rows wide enough
  // for whole blocks; the copies must pick up the last literal written.
  for (std::size_t run = 1; run <= 24; ++run) {
    for (std::size_t distance = 1; distance <= std::min<std::size_t>(run, 3); ++distance) {
      StreamBuilder s = Literals(run);
      s.Copy(distance, 16).Literal(kA).Copy(1, 5);
      const auto n = static_cast<std::int32_t>(s.pixels().size());
      const Decoded d = Decode(s.bytes(), n, 1);
      ASSERT_EQ(d.status, mdl_pdt::PdtStatus::Ok) << run << " literals, distance " << distance;
      EXPECT_EQ(d.pixels, s.pixels()) << run << " literals, distance " << distance;
    }
  }
}

TEST(PdtStream, CopiesReachBackUpTo4096Pixels) {
  StreamBuilder s = Literals(4096);
  s.Copy(4096, 16).Copy(4096, 16);
  const Decoded d = Decode(s.bytes(), 4096 + 32, 1);
  ASSERT_EQ(d.status, mdl_pdt::PdtStatus::Ok);
  ASSERT_EQ(d.pixels.size(), 4128u);
  for (std::size_t k = 0; k < 32; ++k) EXPECT_EQ(d.pixels[4096 + k], d.pixels[k]) << k;
  EXPECT_EQ(d.pixels, s.pixels());
}

TEST(PdtStream, CopySourceMayStartAtPixelZeroButNotBefore) {
  StreamBuilder ok = Literals(5);
  ok.Copy(5, 3);
  const Decoded d = Decode(ok.bytes(), 8, 1);
  ASSERT_EQ(d.status, mdl_pdt::PdtStatus::Ok);
  EXPECT_EQ(d.pixels, ok.pixels());

  StreamBuilder bad = Literals(5);
  bad.Copy(6, 3);
  const Decoded e = Decode(bad.bytes(), 8, 1);
  EXPECT_EQ(e.status, mdl_pdt::PdtStatus::CopyBeforeStart);
  EXPECT_TRUE(e.pixels.empty());

  // Far into a long picture, where the decoder takes its fast path.
  StreamBuilder far = Literals(300);
  far.Copy(301, 1);
  for (int k = 0; k < 300; ++k) far.Literal(kA);
  EXPECT_EQ(Decode(far.bytes(), 601, 1).status, mdl_pdt::PdtStatus::CopyBeforeStart);
}

TEST(PdtStream, ACopyAsTheFirstTokenHasNoSource) {
  // The first byte is always a flag byte, here announcing a copy.
  for (const Bytes& payload : {Bytes{0x00, 0x00, 0x00}, Bytes{0x7F, 0xF0, 0xFF, 1, 2, 3}}) {
    const Decoded d = Decode(payload, 1, 1);
    EXPECT_EQ(d.status, mdl_pdt::PdtStatus::CopyBeforeStart);
    EXPECT_TRUE(d.pixels.empty());
  }
}

TEST(PdtStream, TokensRunOnAcrossRowEnds) {
  // W = 20: a literal, then two copies of 16 cross into the second row.
  StreamBuilder s;
  s.Literal(kA).Copy(1, 16).Copy(1, 16);
  for (int k = 0; k < 7; ++k) s.Literal(kB);
  const Decoded d = Decode(s.bytes(), 20, 2);
  ASSERT_EQ(d.status, mdl_pdt::PdtStatus::Ok);
  mdl_pdt::PixelBuffer expected(40, kA);
  std::fill(expected.begin() + 33, expected.end(), kB);
  EXPECT_EQ(d.pixels, expected);
}

TEST(PdtStream, StopsWhenThePictureIsCompleteEvenMidGroup) {
  // The flag byte announces eight literals; the picture needs two and the
  // stream ends there.
  const Decoded d = Decode({0xFF, 0x33, 0x22, 0x11, 0xC0, 0xB0, 0xA0}, 2, 1);
  ASSERT_EQ(d.status, mdl_pdt::PdtStatus::Ok);
  EXPECT_EQ(d.pixels, (mdl_pdt::PixelBuffer{kA, kB}));
}

TEST(PdtStream, IgnoresBytesAfterTheLastPixel) {
  StreamBuilder s;
  s.Literal(kA).Literal(kB).Copy(2, 2);
  const Bytes junk = {0x00, 0x00, 0xFF, 0x12};  // a copy before pixel 0, were it read
  s.Trailing(junk);
  const Decoded d = Decode(s.bytes(), 2, 2);
  ASSERT_EQ(d.status, mdl_pdt::PdtStatus::Ok);
  EXPECT_EQ(d.pixels, (mdl_pdt::PixelBuffer{kA, kB, kA, kB}));
}

TEST(PdtStream, NarrowPicturesDecodeCompletely) {
  // One copy completes several rows at once; every one of them counts.
  for (std::int32_t w : {1, 2, 3, 5, 15}) {
    const std::int32_t h = 48 / w;
    StreamBuilder s;
    s.Literal(kA);
    while (s.pixels().size() < static_cast<std::size_t>(w * h)) {
      s.Copy(1, std::min<std::size_t>(16, static_cast<std::size_t>(w * h) - s.pixels().size()));
    }
    const Decoded d = Decode(s.bytes(), w, h);
    ASSERT_EQ(d.status, mdl_pdt::PdtStatus::Ok) << w << " x " << h;
    EXPECT_EQ(d.pixels, mdl_pdt::PixelBuffer(static_cast<std::size_t>(w * h), kA)) << w << " x " << h;
  }
  // 1 × 1: a single literal is the whole stream.
  EXPECT_EQ(Decode({0x80, 0x03, 0x02, 0x01}, 1, 1).pixels, (mdl_pdt::PixelBuffer{Px(1, 2, 3)}));
}

TEST(PdtStream, ACopyRunningPastTheLastPixelIsCut) {
  StreamBuilder s;
  s.Literal(kA).Literal(kB).Copy(2, 16);  // would make 18 pixels
  const Decoded d = Decode(s.bytes(), 3, 2);
  ASSERT_EQ(d.status, mdl_pdt::PdtStatus::Ok);
  EXPECT_EQ(d.pixels, (mdl_pdt::PixelBuffer{kA, kB, kA, kB, kA, kB}));
}

TEST(PdtStream, ReportsAStreamThatEndsTooEarly) {
  const Bytes cut[] = {
      {},                              // no flag byte
      {0x80},                          // flag byte, no literal
      {0x80, 0x10, 0x20},              // literal cut short
      {0x80, 0x10, 0x20, 0x30},        // first pixel only
      {0x80, 0x10, 0x20, 0x30, 0x00},  // copy cut short
  };
  for (const Bytes& payload : cut) {
    const Decoded d = Decode(payload, 2, 1);
    EXPECT_EQ(d.status, mdl_pdt::PdtStatus::StreamTruncated) << payload.size() << " bytes";
    EXPECT_TRUE(d.pixels.empty());
  }
  // Eight full groups, then nothing: the next flag byte is missing.
  const Decoded d = Decode(Literals(64).bytes(), 65, 1);
  EXPECT_EQ(d.status, mdl_pdt::PdtStatus::StreamTruncated);
  // A long stream cut in the middle of a group.
  Bytes long_cut = Literals(1000).bytes();
  long_cut.resize(long_cut.size() - 5);
  EXPECT_EQ(Decode(long_cut, 1000, 1).status, mdl_pdt::PdtStatus::StreamTruncated);
}

TEST(PdtStream, RejectsSizesWithoutPixels) {
  for (const auto& [w, h] : {std::pair{0, 1}, {1, 0}, {-3, 4}, {4, -3}}) {
    const Decoded d = Decode({0x80, 1, 2, 3}, w, h);
    EXPECT_EQ(d.status, mdl_pdt::PdtStatus::BadDimensions);
    EXPECT_TRUE(d.pixels.empty());
  }
}

TEST(PdtStream, LongMixedStreamsMatchTokenByTokenExpansion) {
  // Random tokens of every kind over sizes around the decoder's group
  // boundaries, so both its fast path and its careful tail are exercised.
  std::mt19937 rng(7);
  for (int round = 0; round < 40; ++round) {
    StreamBuilder s;
    const std::size_t target = 1 + rng() % 5000;
    s.Literal(rng());
    while (s.pixels().size() < target) {
      const std::size_t have = s.pixels().size();
      const unsigned kind = rng() % 5;
      if (kind == 0) {
        s.Literal(rng());
      } else if (kind == 4) {  // a burst of literals fills whole flag groups
        for (unsigned k = 1 + rng() % 12; k > 0; --k) s.Literal(rng());
      } else {
        const std::size_t reach = std::min<std::size_t>(have, 4096);
        const std::size_t distance =
            kind == 1 ? 1 + rng() % std::min<std::size_t>(reach, 16) : 1 + rng() % reach;
        s.Copy(distance, 1 + rng() % 16);
      }
    }
    const auto n = static_cast<std::int32_t>(s.pixels().size());
    const Decoded d = Decode(s.bytes(), n, 1);
    ASSERT_EQ(d.status, mdl_pdt::PdtStatus::Ok) << "round " << round;
    ASSERT_EQ(d.pixels, s.pixels()) << "round " << round;

    // The same stream read as a picture one pixel shorter: the last token is cut.
    const Decoded shorter = Decode(s.bytes(), n - 1, 1);
    if (n > 1) {
      ASSERT_EQ(shorter.status, mdl_pdt::PdtStatus::Ok);
      ASSERT_TRUE(std::equal(shorter.pixels.begin(), shorter.pixels.end(), s.pixels().begin()));
    }
    // And one pixel longer: the stream runs out.
    EXPECT_EQ(Decode(s.bytes(), n + 1, 1).status, mdl_pdt::PdtStatus::StreamTruncated);
  }
}

TEST(PdtDecodePdt10, ReleasesThePayloadAndReportsTheResult) {
  mdl_pdt::PdtHeader header;
  header.Width = 4;
  header.Height = 1;
  std::vector<std::uint8_t> payload = {0x80, 0x10, 0x20, 0x30, 0x02, 0x00};
  mdl_pdt::PixelBuffer pixels;
  mdl_pdt::PdtStatus status = mdl_pdt::PdtStatus::NotPdt10;
  EXPECT_TRUE(mdl_pdt::DecodePdt10(header, payload, pixels, &status));
  EXPECT_EQ(status, mdl_pdt::PdtStatus::Ok);
  EXPECT_EQ(pixels, mdl_pdt::PixelBuffer(4, 0xFF302010u));
  EXPECT_TRUE(payload.empty());
  EXPECT_EQ(payload.capacity(), 0u);

  payload = {0x80, 0x10, 0x20};
  EXPECT_FALSE(mdl_pdt::DecodePdt10(header, payload, pixels));
  EXPECT_TRUE(pixels.empty());
  EXPECT_EQ(payload.capacity(), 0u);
}

// Pixels numbered 0 .. w·h − 1, so each one's origin is visible.
mdl_pdt::PixelBuffer Numbered(std::int32_t width, std::int32_t height) {
  mdl_pdt::PixelBuffer p(static_cast<std::size_t>(width * height));
  std::iota(p.begin(), p.end(), 0u);
  return p;
}

TEST(PdtFlipRows, ReversesTheRowOrder) {
  mdl_pdt::PixelBuffer one = Numbered(4, 1);
  mdl_pdt::FlipRows(one, 4, 1);
  EXPECT_EQ(one, Numbered(4, 1));

  mdl_pdt::PixelBuffer two = Numbered(3, 2);
  mdl_pdt::FlipRows(two, 3, 2);
  EXPECT_EQ(two, (mdl_pdt::PixelBuffer{3, 4, 5, 0, 1, 2}));

  mdl_pdt::PixelBuffer three = Numbered(2, 3);
  mdl_pdt::FlipRows(three, 2, 3);
  EXPECT_EQ(three, (mdl_pdt::PixelBuffer{4, 5, 2, 3, 0, 1}));

  mdl_pdt::PixelBuffer square = {kA, kB, kC, Px(9, 9, 9)};  // top A, B; bottom C, D
  mdl_pdt::FlipRows(square, 2, 2);
  EXPECT_EQ(square, (mdl_pdt::PixelBuffer{kC, Px(9, 9, 9), kA, kB}));
}

TEST(PdtFlipRows, TwiceRestoresThePicture) {
  for (const auto& [w, h] : {std::pair{1, 7}, {7, 1}, {5, 4}, {3, 9}}) {
    mdl_pdt::PixelBuffer p = Numbered(w, h);
    mdl_pdt::FlipRows(p, w, h);
    const auto w_size = static_cast<std::size_t>(w);
    for (std::size_t y = 0; y < static_cast<std::size_t>(h); ++y) {
      EXPECT_EQ(p[y * w_size], (static_cast<std::size_t>(h) - 1 - y) * w_size) << w << "x" << h;
    }
    mdl_pdt::FlipRows(p, w, h);
    EXPECT_EQ(p, Numbered(w, h));
  }
}

TEST(PdtFlipRows, LeavesABufferThatDoesNotMatchTheSizeAlone) {
  mdl_pdt::PixelBuffer small = Numbered(2, 2);
  mdl_pdt::FlipRows(small, 2, 3);
  EXPECT_EQ(small, Numbered(2, 2));
  mdl_pdt::FlipRows(small, 0, 2);
  mdl_pdt::FlipRows(small, -2, -2);
  EXPECT_EQ(small, Numbered(2, 2));
}

}  // namespace
