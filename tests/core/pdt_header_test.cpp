// The 32-byte header: how its fields are read, the signature test and the
// limits a header must meet before any pixel memory is set aside.
#include <gtest/gtest.h>

#include <iterator>
#include <limits>
#include <set>
#include <string>

#include "pdt/mdl_pdt.h"
#include "tests/core/core_test_support.h"

namespace {

using coretest::Bytes;
using coretest::HeaderBytes;

mdl_pdt::PdtStatus Parse(const Bytes& bytes, mdl_pdt::PdtHeader& header) {
  return mdl_pdt::ParseHeader(bytes, header);
}

TEST(PdtSignature, AcceptsPdt10AtAnyOfTheFourPositions) {
  for (std::size_t at = 0; at + 5 <= 8; ++at) {
    std::string sig(8, 'x');
    sig.replace(at, 5, "PDT10");
    mdl_pdt::PdtHeader header;
    EXPECT_EQ(Parse(HeaderBytes(sig, 100, 4, 4), header), mdl_pdt::PdtStatus::Ok)
        << "at offset " << at;
  }
}

TEST(PdtSignature, AcceptsSpaceBeforeAndZeroBytesAfter) {
  const std::string sig(" PDT10\0\0", 8);
  mdl_pdt::PdtHeader header;
  ASSERT_EQ(Parse(HeaderBytes(sig, 100, 4, 4), header), mdl_pdt::PdtStatus::Ok);
  EXPECT_EQ(std::string(header.Signature.data(), 8), sig);
}

TEST(PdtSignature, SearchesPastZeroBytes) {
  // A zero byte before the text does not end the search.
  mdl_pdt::PdtHeader header;
  EXPECT_EQ(Parse(HeaderBytes(std::string("\0\0PDT10\0", 8), 100, 4, 4), header),
            mdl_pdt::PdtStatus::Ok);
  EXPECT_EQ(Parse(HeaderBytes(std::string("\0\0\0PDT10", 8), 100, 4, 4), header),
            mdl_pdt::PdtStatus::Ok);
}

TEST(PdtSignature, RejectsAnythingButTheExactText) {
  const std::string rejected[] = {
      std::string("pdt10\0\0\0", 8),   // lower case
      std::string("Pdt10\0\0\0", 8),   // mixed case
      std::string("PDT11\0\0\0", 8),   // another version
      std::string("PDT 10\0\0", 8),    // split
      std::string("PDT1\0\0\0\0", 8),  // cut short
      std::string("xxxxPDT1", 8),      // the text would run past the eighth byte
      std::string(8, '\0'),
  };
  for (const auto& sig : rejected) {
    mdl_pdt::PdtHeader header;
    EXPECT_EQ(Parse(HeaderBytes(sig, 100, 4, 4), header), mdl_pdt::PdtStatus::NotPdt10)
        << "signature " << testing::PrintToString(sig);
  }
}

TEST(PdtSignature, TextInTheFieldsAfterTheSignatureDoesNotCount) {
  // "PDT10" straddling the signature and FileSize: only the first 8 bytes are searched.
  Bytes bytes = HeaderBytes("xxxxxPDT", 0, 4, 4);
  bytes[8] = '1';
  bytes[9] = '0';
  mdl_pdt::PdtHeader header;
  EXPECT_EQ(Parse(bytes, header), mdl_pdt::PdtStatus::NotPdt10);
}

TEST(PdtHeaderFields, AreReadLittleEndianFieldByField) {
  Bytes bytes = HeaderBytes("PDT10", 0, 0, 0);
  const std::uint8_t fields[12] = {0x21, 0x43, 0x65, 0x07, 0x80, 0x02,
                                   0x00, 0x00, 0xFE, 0xFF, 0xFF, 0xFF};
  std::copy(std::begin(fields), std::end(fields), bytes.begin() + 8);
  mdl_pdt::PdtHeader header;
  ASSERT_EQ(Parse(bytes, header), mdl_pdt::PdtStatus::Ok);
  EXPECT_EQ(header.FileSize, 0x07654321);
  EXPECT_EQ(header.Width, 640);
  EXPECT_EQ(header.Height, -2);  // signed
}

TEST(PdtHeaderFields, KeepTheTwelveFurtherBytesInFileOrder) {
  const std::array<std::uint8_t, 12> reserved = {1, 2, 3, 4, 5, 6, 0xF7, 0xF8, 0xF9, 0, 0xFF, 12};
  mdl_pdt::PdtHeader header;
  ASSERT_EQ(Parse(HeaderBytes("PDT10", 99, 3, 2, reserved), header), mdl_pdt::PdtStatus::Ok);
  EXPECT_EQ(header.Reserved, reserved);
  EXPECT_EQ(header.FileSize, 99);
  EXPECT_EQ(header.Width, 3);
  EXPECT_EQ(header.Height, 2);
}

TEST(PdtHeaderFields, AreOverwrittenEvenWhenTheSignatureFails) {
  mdl_pdt::PdtHeader header;
  header.FileSize = 1;
  header.Width = 1;
  const std::array<std::uint8_t, 12> reserved = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 1, 2};
  ASSERT_EQ(Parse(HeaderBytes("PDT09", 555, 66, 77, reserved), header),
            mdl_pdt::PdtStatus::NotPdt10);
  EXPECT_EQ(std::string(header.Signature.data(), 5), "PDT09");
  EXPECT_EQ(header.FileSize, 555);
  EXPECT_EQ(header.Width, 66);
  EXPECT_EQ(header.Height, 77);
  EXPECT_EQ(header.Reserved, reserved);
}

TEST(PdtHeaderFields, FewerThan32BytesLeaveTheHeaderUntouched) {
  mdl_pdt::PdtHeader header;
  header.FileSize = 1234;
  Bytes bytes = HeaderBytes("PDT10", 100, 4, 4);
  bytes.pop_back();
  EXPECT_EQ(Parse(bytes, header), mdl_pdt::PdtStatus::HeaderTooShort);
  EXPECT_EQ(header.FileSize, 1234);
  EXPECT_EQ(Parse({}, header), mdl_pdt::PdtStatus::HeaderTooShort);
}

mdl_pdt::PdtHeader Header(std::int32_t file_size, std::int32_t width, std::int32_t height) {
  mdl_pdt::PdtHeader header;
  EXPECT_EQ(mdl_pdt::ParseHeader(HeaderBytes("PDT10", file_size, width, height), header),
            mdl_pdt::PdtStatus::Ok);
  return header;
}

constexpr std::int32_t kMaxInt = std::numeric_limits<std::int32_t>::max();

TEST(PdtHeaderLimits, FileSizeMustLeaveAtLeastOnePayloadByte) {
  EXPECT_EQ(mdl_pdt::CheckHeader(Header(33, 1, 1), 1), mdl_pdt::PdtStatus::Ok);
  EXPECT_EQ(mdl_pdt::CheckHeader(Header(32, 1, 1), 1), mdl_pdt::PdtStatus::BadFileSize);
  EXPECT_EQ(mdl_pdt::CheckHeader(Header(0, 1, 1), 1), mdl_pdt::PdtStatus::BadFileSize);
  EXPECT_EQ(mdl_pdt::CheckHeader(Header(-1, 1, 1), 1), mdl_pdt::PdtStatus::BadFileSize);
  EXPECT_EQ(mdl_pdt::CheckHeader(Header(std::numeric_limits<std::int32_t>::min(), 1, 1), 1),
            mdl_pdt::PdtStatus::BadFileSize);
}

TEST(PdtHeaderLimits, WidthAndHeightMustBePositive) {
  for (const auto& [w, h] : {std::pair{0, 1},
                             {1, 0},
                             {0, 0},
                             {-1, 5},
                             {5, -1},
                             {std::numeric_limits<std::int32_t>::min(), 1}}) {
    EXPECT_EQ(mdl_pdt::CheckHeader(Header(1000, w, h), 968), mdl_pdt::PdtStatus::BadDimensions)
        << w << " x " << h;
  }
}

TEST(PdtHeaderLimits, ImageBytesMustFitInASigned32BitInteger) {
  constexpr std::size_t kPlenty = std::size_t{1} << 31;  // enough payload for any size
  // 536870911 × 4 = 2147483644 fits; 536870912 × 4 = 2^31 does not.
  EXPECT_EQ(mdl_pdt::CheckHeader(Header(kMaxInt, 536870911, 1), kPlenty), mdl_pdt::PdtStatus::Ok);
  EXPECT_EQ(mdl_pdt::CheckHeader(Header(kMaxInt, 536870912, 1), kPlenty),
            mdl_pdt::PdtStatus::TooLarge);
  EXPECT_EQ(mdl_pdt::CheckHeader(Header(kMaxInt, 1, 536870912), kPlenty),
            mdl_pdt::PdtStatus::TooLarge);
  // 23170² × 4 fits, 23171² × 4 does not.
  EXPECT_EQ(mdl_pdt::CheckHeader(Header(kMaxInt, 23170, 23170), kPlenty), mdl_pdt::PdtStatus::Ok);
  EXPECT_EQ(mdl_pdt::CheckHeader(Header(kMaxInt, 23171, 23171), kPlenty),
            mdl_pdt::PdtStatus::TooLarge);
  // Products that wrap around in 32 or even 64 bits must not slip through.
  EXPECT_EQ(mdl_pdt::CheckHeader(Header(kMaxInt, 65536, 65536), kPlenty),
            mdl_pdt::PdtStatus::TooLarge);
  EXPECT_EQ(mdl_pdt::CheckHeader(Header(kMaxInt, kMaxInt, kMaxInt), kPlenty),
            mdl_pdt::PdtStatus::TooLarge);
}

TEST(PdtHeaderLimits, PayloadMustBeAbleToFillThePicture) {
  // One payload byte can yield at most eight pixels.
  EXPECT_EQ(mdl_pdt::CheckHeader(Header(1000, 80, 1), 10), mdl_pdt::PdtStatus::Ok);
  EXPECT_NE(mdl_pdt::CheckHeader(Header(1000, 81, 1), 10), mdl_pdt::PdtStatus::Ok);
  EXPECT_NE(mdl_pdt::CheckHeader(Header(1024, 23170, 23170), 992), mdl_pdt::PdtStatus::Ok);
  EXPECT_NE(mdl_pdt::CheckHeader(Header(33, 1, 1), 0), mdl_pdt::PdtStatus::Ok);
}

TEST(PdtStatusText, EveryStatusHasItsOwnPhrase) {
  const mdl_pdt::PdtStatus all[] = {mdl_pdt::PdtStatus::Ok,
                                    mdl_pdt::PdtStatus::NotFound,
                                    mdl_pdt::PdtStatus::PermissionDenied,
                                    mdl_pdt::PdtStatus::CannotOpen,
                                    mdl_pdt::PdtStatus::CannotRead,
                                    mdl_pdt::PdtStatus::HeaderTooShort,
                                    mdl_pdt::PdtStatus::NotPdt10,
                                    mdl_pdt::PdtStatus::BadFileSize,
                                    mdl_pdt::PdtStatus::BadDimensions,
                                    mdl_pdt::PdtStatus::TooLarge,
                                    mdl_pdt::PdtStatus::StreamTruncated,
                                    mdl_pdt::PdtStatus::CopyBeforeStart};
  std::set<std::string> phrases;
  for (mdl_pdt::PdtStatus s : all) {
    const std::string phrase = mdl_pdt::Describe(s);
    EXPECT_FALSE(phrase.empty());
    phrases.insert(phrase);
  }
  EXPECT_EQ(phrases.size(), std::size(all));
}

}  // namespace
