// Windows names as the program handles them: UTF-16 paths as UTF-8 bytes and
// back, checked against the system's own conversion, and Shift-JIS through
// code page 932.
#include <windows.h>

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "names/names.h"

namespace {

// The system's UTF-8 for UTF-16 without unpaired surrogates: the reference.
std::string SystemUtf8(const std::wstring& wide) {
  if (wide.empty()) return {};
  const int size = static_cast<int>(wide.size());
  const int bytes = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), size, nullptr,
                                        0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), size, out.data(), bytes, nullptr,
                      nullptr);
  return out;
}

// Random names over ASCII, Latin, kana and kanji, astral characters as
// surrogate pairs, and (when `unpaired`) surrogates standing alone.
std::wstring RandomName(std::mt19937& rng, bool unpaired) {
  std::wstring name;
  const int length = std::uniform_int_distribution<int>(0, 12)(rng);
  for (int k = 0; k < length; ++k) {
    switch (std::uniform_int_distribution<int>(0, unpaired ? 5 : 4)(rng)) {
      case 0:
        name += static_cast<wchar_t>(std::uniform_int_distribution<int>(0x20, 0x7E)(rng));
        break;
      case 1:
        name += static_cast<wchar_t>(std::uniform_int_distribution<int>(0xA0, 0x7FF)(rng));
        break;
      case 2:
        name += static_cast<wchar_t>(std::uniform_int_distribution<int>(0x3041, 0x9FFF)(rng));
        break;
      case 3:
        name += static_cast<wchar_t>(std::uniform_int_distribution<int>(0xE000, 0xFFFD)(rng));
        break;
      case 4:
        name += static_cast<wchar_t>(std::uniform_int_distribution<int>(0xD800, 0xDBFF)(rng));
        name += static_cast<wchar_t>(std::uniform_int_distribution<int>(0xDC00, 0xDFFF)(rng));
        break;
      default:
        name += static_cast<wchar_t>(std::uniform_int_distribution<int>(0xD800, 0xDFFF)(rng));
        break;
    }
  }
  return name;
}

TEST(WindowsNames, PathBytesAreTheSystemsUtf8AndEveryNameComesBackWhole) {
  std::mt19937 rng(22);
  for (int round = 0; round < 20000; ++round) {
    const bool unpaired = round % 2 == 1;
    const std::wstring wide = RandomName(rng, unpaired);
    const std::string bytes = names::PathBytes(std::filesystem::path(wide));
    ASSERT_EQ(names::PathFromBytes(bytes).native(), wide) << "round " << round;
    if (!unpaired) {
      ASSERT_EQ(bytes, SystemUtf8(wide)) << "round " << round;
      ASSERT_TRUE(names::IsUtf8(bytes));
      ASSERT_EQ(names::ReadablePath(std::filesystem::path(wide)), bytes);
    }
  }
  // An unpaired surrogate is shown, not passed on as bytes no terminal shows.
  EXPECT_EQ(names::ReadablePath(std::filesystem::path(std::wstring(L"a\xD800.pdt"))),
            "a\\uD800.pdt");
}

TEST(WindowsNames, ShiftJisThroughCodePage932) {
  EXPECT_EQ(names::DecodeShiftJis("\x94\x77\x8C\x69.PDT"), "背景.PDT");
  EXPECT_EQ(names::DecodeShiftJis(""), "");
  EXPECT_EQ(names::DecodeShiftJis("\x94"), std::nullopt);      // a lead byte cut off
  EXPECT_EQ(names::DecodeShiftJis("\xFF\xFE"), std::nullopt);  // no such bytes in it
}

}  // namespace
