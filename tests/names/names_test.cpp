// How names given as bytes are shown: the UTF-8 test against Qt's decoder on
// every short byte sequence, and the Shift-JIS and escaped forms on names as
// they come out of old Japanese archives.
#include "names/names.h"

#include <gtest/gtest.h>

#include <map>

#include <QByteArray>
#include <QString>
#include <QStringDecoder>
#include <array>
#include <string>

namespace {

// Qt's decoder, which showed every name before: a byte string is valid UTF-8
// exactly when decoding and encoding again gives it back unchanged. A leading
// byte order mark is part of the name here, so the decoder must keep it.
bool QtAcceptsUtf8(const std::string& bytes) {
  const QByteArray raw = QByteArray::fromStdString(bytes);
  QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
  const QString text = decoder.decode(raw);
  return !decoder.hasError() && text.toUtf8() == raw;
}

void ExpectAgreement(const std::string& bytes, int& mismatches) {
  const bool valid = names::IsUtf8(bytes);
  if (valid != QtAcceptsUtf8(bytes) && ++mismatches <= 5) {
    ADD_FAILURE() << "disagreement on "
                  << QByteArray::fromStdString(bytes).toHex(' ').toStdString();
  }
  // Whatever the bytes, the shown name is valid UTF-8, and valid names show as
  // themselves unless a backslash in them starts "\x".
  const std::string shown = names::ReadableName(bytes);
  const bool as_is = valid && bytes.find("\\x") == std::string::npos;
  if ((!names::IsUtf8(shown) || (as_is && shown != bytes)) && ++mismatches <= 5) {
    ADD_FAILURE() << "bad shown name for "
                  << QByteArray::fromStdString(bytes).toHex(' ').toStdString();
  }
}

TEST(Names, Utf8TestAgreesWithQtOnShortSequences) {
  int mismatches = 0;
  for (int a = 0; a < 256; ++a) {
    ExpectAgreement(std::string(1, static_cast<char>(a)), mismatches);
    for (int b = 0; b < 256; ++b) {
      ExpectAgreement({static_cast<char>(a), static_cast<char>(b)}, mismatches);
    }
  }
  // Three-byte forms with every lead and second byte; the third byte at the
  // edges of the continuation range.
  const std::array<int, 6> edges{0x00, 0x7F, 0x80, 0xBF, 0xC0, 0xFF};
  for (int a = 0xC0; a < 256; ++a) {
    for (int b = 0; b < 256; ++b) {
      for (int c : edges) {
        ExpectAgreement({static_cast<char>(a), static_cast<char>(b), static_cast<char>(c)},
                        mismatches);
        for (int d : edges) {
          ExpectAgreement({static_cast<char>(a), static_cast<char>(b), static_cast<char>(c),
                           static_cast<char>(d)},
                          mismatches);
        }
      }
    }
  }
  EXPECT_EQ(mismatches, 0);
}

TEST(Names, ShiftJisIsDecodedAndOtherBytesAreShownEscaped) {
  // UTF-8 names, Japanese ones included, are shown as they are.
  EXPECT_EQ(names::ReadableName("EV001.PDT"), "EV001.PDT");
  EXPECT_EQ(names::ReadableName("背景.PDT"), "背景.PDT");
  // Shift-JIS: double-byte kanji and kana, single-byte half-width kana.
  EXPECT_EQ(names::ReadableName("\x94\x77\x8C\x69.PDT"), "背景.PDT");
  EXPECT_EQ(names::ReadableName("\x83\x66\x81\x5B\x83\x5E"), "データ");
  EXPECT_EQ(names::ReadableName("\xB2\xCD"), "ｲﾍ");
  // Neither: valid parts stay, every other byte shows as \xHH.
  EXPECT_EQ(names::ReadableName("\x94\x77\xFF.pdt"), "\\x94w\\xFF.pdt");
  EXPECT_EQ(names::ReadableName("\x94"), "\\x94");  // a lead byte cut off
  EXPECT_EQ(names::ReadableName("背\xFF"), "背\\xFF");

  // Paths are shown name by name.
  EXPECT_EQ(names::ReadablePath("/home/ユーザー/\x83\x66\x81\x5B\x83\x5E/\x94\x77\x8C\x69.PDT"),
            "/home/ユーザー/データ/背景.PDT");
  EXPECT_EQ(names::ReadablePath("rel/\xFF/"), "rel/\\xFF/");

  // Output names: only Shift-JIS ones change.
  EXPECT_EQ(names::Utf8NameIfShiftJis("\x94\x77\x8C\x69.bmp"), "背景.bmp");
  EXPECT_EQ(names::Utf8NameIfShiftJis("背景.bmp"), "背景.bmp");
  EXPECT_EQ(names::Utf8NameIfShiftJis("\x94\xFF.bmp"), "\x94\xFF.bmp");
}

TEST(Names, DifferentNamesNeverLookAlike) {
  // Every name of up to four bytes from an alphabet that mixes backslashes,
  // 'x', hex digits and bytes that are neither UTF-8 nor Shift-JIS.
  const std::string alphabet = {'\\', 'x', '9', '4', 'A', '\x94', '\xFF'};
  std::map<std::string, std::string> shown_by;
  std::vector<std::string> names = {""};
  for (std::size_t begin = 0, length = 0; length < 4; ++length) {
    const std::size_t end = names.size();
    for (std::size_t k = begin; k < end; ++k) {
      for (const char c : alphabet) names.push_back(names[k] + c);
    }
    begin = end;
  }
  int collisions = 0;
  for (const std::string& name : names) {
    const auto [it, inserted] = shown_by.emplace(names::ReadableName(name), name);
    if (!inserted) {
      ++collisions;
      ADD_FAILURE() << ::testing::PrintToString(name) << " and "
                    << ::testing::PrintToString(it->second) << " both show as " << it->first;
      if (collisions > 5) break;
    }
  }
  EXPECT_EQ(shown_by.size(), names.size());
  // The pair that looked alike before backslashes were escaped.
  EXPECT_EQ(names::ReadableName("\\x94\xFF"), "\\x5Cx94\\xFF");
  EXPECT_EQ(names::ReadablePath("a\\x/b"), "a\\x5Cx/b");
  EXPECT_EQ(names::ReadableName("a\\b"), "a\\b");  // a backslash before anything else stays
}

}  // namespace
