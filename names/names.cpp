#include "names/names.h"

#include <cstdint>

namespace names {
namespace {

// Length of the well-formed UTF-8 sequence that starts at `at`, or 0 when the
// bytes there are not one.
std::size_t SequenceLength(std::string_view s, std::size_t at) {
  const auto byte = [&](std::size_t k) { return static_cast<std::uint8_t>(s[at + k]); };
  const std::size_t left = s.size() - at;
  const std::uint8_t lead = byte(0);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  std::uint8_t low = 0x80;   // range of the second byte, which rules out
  std::uint8_t high = 0xBF;  // overlong forms, surrogates and values above U+10FFFF
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (left < length) return 0;
  if (byte(1) < low || byte(1) > high) return 0;
  for (std::size_t k = 2; k < length; ++k) {
    if (byte(k) < 0x80 || byte(k) > 0xBF) return 0;
  }
  return length;
}

}  // namespace

bool IsUtf8(std::string_view bytes) {
  for (std::size_t at = 0; at < bytes.size();) {
    const std::size_t length = SequenceLength(bytes, at);
    if (length == 0) return false;
    at += length;
  }
  return true;
}

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

void AppendEscaped(std::string& out, std::uint8_t byte) {
  out += "\\x";
  out += kHex[byte >> 4];
  out += kHex[byte & 0x0F];
}

// Whether the text at `at` is a backslash followed by 'x', which would read as
// an escape: such a backslash is itself shown escaped.
bool StartsLikeAnEscape(std::string_view text, std::size_t at) {
  return text[at] == '\\' && at + 1 < text.size() && text[at + 1] == 'x';
}

// Decoded text with each backslash that starts "\x" shown as \x5C.
std::string ProtectBackslashes(std::string text) {
  if (text.find("\\x") == std::string::npos) return text;
  std::string out;
  out.reserve(text.size() + 8);
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (StartsLikeAnEscape(text, at)) {
      AppendEscaped(out, '\\');
    } else {
      out += text[at];
    }
  }
  return out;
}

}  // namespace

std::string ReadableName(std::string_view bytes) {
  if (IsUtf8(bytes)) return ProtectBackslashes(std::string(bytes));
  if (std::optional<std::string> decoded = DecodeShiftJis(bytes)) {
    return ProtectBackslashes(std::move(*decoded));
  }
  std::string out;
  out.reserve(bytes.size() * 4);
  for (std::size_t at = 0; at < bytes.size();) {
    const std::size_t length = StartsLikeAnEscape(bytes, at) ? 0 : SequenceLength(bytes, at);
    if (length > 0) {
      out.append(bytes.substr(at, length));
      at += length;
    } else {
      AppendEscaped(out, static_cast<std::uint8_t>(bytes[at++]));
    }
  }
  return out;
}

std::string Utf8NameIfShiftJis(std::string_view bytes) {
  if (!IsUtf8(bytes)) {
    if (std::optional<std::string> decoded = DecodeShiftJis(bytes)) return std::move(*decoded);
  }
  return std::string(bytes);
}

}  // namespace names
