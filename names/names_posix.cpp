// Names on POSIX systems: the file system gives bytes, and Shift-JIS is
// decoded through the C library's iconv.
#include <iconv.h>

#include <vector>

#include "names/names.h"

namespace names {
namespace {

// Closes an iconv descriptor when it goes out of scope.
class Converter {
 public:
  Converter() : cd_(iconv_open("UTF-8", "CP932")) {}
  ~Converter() {
    if (ok()) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return cd_; }

 private:
  iconv_t cd_;
};

}  // namespace

std::optional<std::string> DecodeShiftJis(std::string_view bytes) {
  // A descriptor of one's own: a name may be decoded on several threads at once.
  const Converter converter;
  if (!converter.ok()) return std::nullopt;
  // Each byte becomes at most three bytes of UTF-8.
  std::vector<char> in(bytes.begin(), bytes.end());
  std::string out(bytes.size() * 3 + 4, '\0');
  char* in_next = in.data();
  std::size_t in_left = in.size();
  char* out_next = out.data();
  std::size_t out_left = out.size();
  // Invalid bytes (EILSEQ) and a lead byte cut off at the end (EINVAL) both fail.
  if (iconv(converter.get(), &in_next, &in_left, &out_next, &out_left) ==
      static_cast<std::size_t>(-1)) {
    return std::nullopt;
  }
  if (in_left != 0) return std::nullopt;
  out.resize(out.size() - out_left);
  return out;
}

std::string ReadablePath(const std::filesystem::path& path) {
  const std::string& native = path.native();
  if (IsUtf8(native) && native.find("\\x") == std::string::npos) return native;
  std::string out;
  out.reserve(native.size() * 2);
  for (std::size_t at = 0; at <= native.size();) {
    std::size_t slash = native.find('/', at);
    if (slash == std::string::npos) slash = native.size();
    out += ReadableName(std::string_view(native).substr(at, slash - at));
    if (slash < native.size()) out += '/';
    at = slash + 1;
  }
  return out;
}

std::string PathBytes(const std::filesystem::path& path) {
  return path.native();
}

std::filesystem::path PathFromBytes(std::string_view bytes) {
  return std::filesystem::path(std::string(bytes));
}

std::string NameKey(const std::filesystem::path& path) {
  return path.native();
}

}  // namespace names
