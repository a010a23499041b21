// Names on Windows: the file system gives UTF-16, which the program handles
// as UTF-8; Shift-JIS is decoded through the system's code page 932.
#include <windows.h>

#include <cstdint>

#include "names/names.h"

namespace names {
namespace {

bool IsHighSurrogate(wchar_t unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}
bool IsLowSurrogate(wchar_t unit) {
  return unit >= 0xDC00 && unit <= 0xDFFF;
}

void AppendUtf8(std::string& out, std::uint32_t code) {
  const auto put = [&](std::uint32_t byte) { out += static_cast<char>(byte); };
  if (code < 0x80) {
    put(code);
  } else if (code < 0x800) {
    put(0xC0 | code >> 6);
    put(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    put(0xE0 | code >> 12);
    put(0x80 | (code >> 6 & 0x3F));
    put(0x80 | (code & 0x3F));
  } else {
    put(0xF0 | code >> 18);
    put(0x80 | (code >> 12 & 0x3F));
    put(0x80 | (code >> 6 & 0x3F));
    put(0x80 | (code & 0x3F));
  }
}

// UTF-16 as UTF-8; an unpaired surrogate is written in its three-byte form,
// or as \uXXXX when `escape_unpaired`.
std::string FromWide(std::wstring_view wide, bool escape_unpaired) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(wide.size() * 3);
  for (std::size_t k = 0; k < wide.size(); ++k) {
    const wchar_t unit = wide[k];
    if (IsHighSurrogate(unit) && k + 1 < wide.size() && IsLowSurrogate(wide[k + 1])) {
      const std::uint32_t high = static_cast<std::uint32_t>(unit) - 0xD800;
      const std::uint32_t low = static_cast<std::uint32_t>(wide[k + 1]) - 0xDC00;
      AppendUtf8(out, 0x10000 + (high << 10 | low));
      ++k;
    } else if (escape_unpaired && (IsHighSurrogate(unit) || IsLowSurrogate(unit))) {
      out += "\\u";
      for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(unit >> shift) & 0xF];
    } else {
      AppendUtf8(out, static_cast<std::uint32_t>(unit));
    }
  }
  return out;
}

// UTF-8 (unpaired surrogates in their three-byte form included) as UTF-16;
// a byte that starts no sequence becomes U+FFFD.
std::wstring ToWide(std::string_view bytes) {
  std::wstring out;
  out.reserve(bytes.size());
  const auto byte = [&](std::size_t k) { return static_cast<std::uint8_t>(bytes[k]); };
  for (std::size_t at = 0; at < bytes.size();) {
    const std::uint8_t lead = byte(at);
    std::size_t length = lead < 0x80    ? 1
                         : lead >= 0xF0 ? 4
                         : lead >= 0xE0 ? 3
                         : lead >= 0xC0 ? 2
                                        : 0;
    std::uint32_t code = length == 1 ? lead : lead & (0x7F >> length);
    bool ok = length > 0 && at + length <= bytes.size();
    for (std::size_t k = 1; ok && k < length; ++k) {
      ok = (byte(at + k) & 0xC0) == 0x80;
      code = code << 6 | (byte(at + k) & 0x3Fu);
    }
    const std::uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (!ok || code < least[length] || code > 0x10FFFF) {
      out += static_cast<wchar_t>(0xFFFD);
      ++at;
      continue;
    }
    if (code >= 0x10000) {
      out += static_cast<wchar_t>(0xD800 + ((code - 0x10000) >> 10));
      out += static_cast<wchar_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
    } else {
      out += static_cast<wchar_t>(code);
    }
    at += length;
  }
  return out;
}

}  // namespace

std::optional<std::string> DecodeShiftJis(std::string_view bytes) {
  if (bytes.empty()) return std::string();
  if (bytes.size() > static_cast<std::size_t>(INT32_MAX / 2)) return std::nullopt;
  const int size = static_cast<int>(bytes.size());
  std::wstring wide(bytes.size(), L'\0');
  const int got =
      MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, bytes.data(), size, wide.data(), size);
  if (got <= 0) return std::nullopt;
  wide.resize(static_cast<std::size_t>(got));
  return FromWide(wide, false);
}

std::string ReadablePath(const std::filesystem::path& path) {
  return FromWide(path.native(), true);
}

std::string PathBytes(const std::filesystem::path& path) {
  return FromWide(path.native(), false);
}

std::filesystem::path PathFromBytes(std::string_view bytes) {
  return std::filesystem::path(ToWide(bytes));
}

std::string NameKey(const std::filesystem::path& path) {
  const std::wstring& name = path.native();
  if (name.empty() || name.size() > static_cast<std::size_t>(INT32_MAX)) return PathBytes(path);
  // The invariant locale's upper case (in KERNEL32, as user32's CharUpper is not).
  const int size = static_cast<int>(name.size());
  std::wstring upper(name.size(), L'\0');
  if (LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, name.data(), size, upper.data(), size) !=
      size) {
    return PathBytes(path);
  }
  return FromWide(upper, false);
}

}  // namespace names
