// Temporary folders and whole-file reads and writes shared by the test suites.
#pragma once

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace testsupport {

// A fresh folder under the system's temporary folder, removed with everything
// in it when the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(std::string_view name) const { return path_ / name; }
  // Names of the entries directly inside the folder, sorted.
  std::vector<std::string> Entries() const;

 private:
  std::filesystem::path path_;
};

// The whole file; empty when it cannot be read.
std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& path);

// Writes the whole file, creating missing parent folders; throws on failure.
void WriteBytes(const std::filesystem::path& path, std::span<const std::uint8_t> bytes);
inline void WriteBytes(const std::filesystem::path& path,
                       std::initializer_list<std::uint8_t> bytes) {
  WriteBytes(path, std::span(bytes.begin(), bytes.size()));
}

}  // namespace testsupport
