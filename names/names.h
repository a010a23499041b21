// Readable text for file names that the file system gives as bytes. Names
// from old Japanese archives are often Shift-JIS bytes that are not UTF-8;
// the name itself is always kept as bytes, only its display is decoded.
// Windows names are UTF-16: there the bytes of a name are its UTF-8 form.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace names {

// Whether `bytes` is well-formed UTF-8 (no overlong forms, no surrogates,
// nothing above U+10FFFF).
bool IsUtf8(std::string_view bytes);

// `bytes` decoded as Shift-JIS (code page 932) into UTF-8, or nothing when
// some byte sequence is not valid there.
std::optional<std::string> DecodeShiftJis(std::string_view bytes);

// One name shown as UTF-8 text: the name itself when it is valid UTF-8, else
// its Shift-JIS decoding, else its valid UTF-8 parts with every other byte
// written as \xHH. A backslash followed by 'x' is itself written \x5C, so that
// no two different names look alike.
std::string ReadableName(std::string_view bytes);

// A path shown as UTF-8 text, each component by ReadableName, so that one
// Shift-JIS folder does not change how the others are shown.
std::string ReadablePath(const std::filesystem::path& path);

// The name for an output file derived from `bytes`: its Shift-JIS decoding
// when the name is not UTF-8 but decodes as Shift-JIS, else `bytes` unchanged.
std::string Utf8NameIfShiftJis(std::string_view bytes);

// The bytes the program handles for a path: the file system's own on POSIX
// systems; on Windows, UTF-8 (an unpaired surrogate, which Windows names may
// hold, in its three-byte form, so that every name survives the round trip).
std::string PathBytes(const std::filesystem::path& path);

// The path for such bytes; never decoded in a locale's code page.
std::filesystem::path PathFromBytes(std::string_view bytes);

// Bytes that are equal for two spellings of one name in one folder: the
// name's bytes where names differ in letter case (POSIX systems), its
// upper-case form on Windows, whose file systems ignore case.
std::string NameKey(const std::filesystem::path& path);

}  // namespace names
