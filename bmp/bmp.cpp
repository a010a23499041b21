#include "bmp/bmp.h"

#include <bit>
#include <cerrno>
#include <cstdio>
#include <random>
#include <string>
#include <system_error>

#include <sys/stat.h>
#include <unistd.h>

namespace bmp {
namespace {

class ByteWriter {
 public:
  explicit ByteWriter(std::uint8_t* out) : out_(out) {}
  void U16(std::uint16_t v) {
    *out_++ = static_cast<std::uint8_t>(v);
    *out_++ = static_cast<std::uint8_t>(v >> 8);
  }
  void U32(std::uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8) *out_++ = static_cast<std::uint8_t>(v >> shift);
  }
  void I32(std::int32_t v) { U32(static_cast<std::uint32_t>(v)); }
  void U8(std::uint8_t v) { *out_++ = v; }

 private:
  std::uint8_t* out_;
};

// Writes the pixels as their little-endian bytes B, G, R, 0xFF whatever the host.
bool WritePixels(std::FILE* f, std::span<const std::uint32_t> pixels) {
  if constexpr (std::endian::native == std::endian::little) {
    return std::fwrite(pixels.data(), sizeof(std::uint32_t), pixels.size(), f) == pixels.size();
  } else {
    std::uint8_t chunk[4096];
    std::size_t k = 0;
    while (k < pixels.size()) {
      std::size_t n = 0;
      for (; n < sizeof chunk / 4 && k < pixels.size(); ++n, ++k) {
        ByteWriter(chunk + n * 4).U32(pixels[k]);
      }
      if (std::fwrite(chunk, 4, n, f) != n) return false;
    }
    return true;
  }
}

// The status for the error number a failed file operation left.
WriteStatus FromErrno(int error) {
  switch (error) {
    case ENOSPC:
    case EDQUOT:
      return WriteStatus::NoSpace;
    case EACCES:
    case EPERM:
      return WriteStatus::PermissionDenied;
    case EROFS:
      return WriteStatus::ReadOnly;
    case EISDIR:
      return WriteStatus::IsFolder;
    case ENOENT:
    case ENOTDIR:
      return WriteStatus::NoFolder;
    case ENAMETOOLONG:
      return WriteStatus::NameTooLong;
    default:
      return WriteStatus::WriteError;
  }
}

// Creates a new file beside `target` under a name no other file has, opened
// for writing. Returns its path, or an empty path and the reason.
std::filesystem::path CreateTempBeside(const std::filesystem::path& target, std::FILE*& file,
                                       WriteStatus& status) {
  std::random_device entropy;
  std::mt19937_64 rng((static_cast<std::uint64_t>(entropy()) << 32) ^ entropy());
  const std::filesystem::path dir = target.parent_path();
  // A short name of its own: the target's name may already be as long as the
  // folder allows, so nothing can be added to it.
  const std::string stem = ".quillon-";
  status = WriteStatus::WriteError;
  for (int attempt = 0; attempt < 16; ++attempt) {
    std::filesystem::path candidate =
        dir / (stem + std::to_string(rng() % 1000000000000ULL) + ".tmp");
    errno = 0;
    file = std::fopen(candidate.c_str(), "wbx");  // fails if the name exists
    if (file != nullptr) return candidate;
    if (errno != EEXIST) {
      status = FromErrno(errno);
      break;
    }
  }
  file = nullptr;
  return {};
}

// Gives the new file the old one's permission bits and, where allowed, its
// group, so that replacing a file does not change who may use it.
void CarryOverOwnership(const std::filesystem::path& old_file, const std::filesystem::path& temp) {
  struct stat old_status {};
  if (::stat(old_file.c_str(), &old_status) != 0 || !S_ISREG(old_status.st_mode)) return;
  // Only a group the user belongs to (or any, for root) is accepted; otherwise
  // the new file keeps the user's default group.
  static_cast<void>(::chown(temp.c_str(), static_cast<uid_t>(-1), old_status.st_gid));
  static_cast<void>(::chmod(temp.c_str(), old_status.st_mode & 0777));
}

}  // namespace

const char* Describe(WriteStatus status) {
  switch (status) {
    case WriteStatus::Ok:
      return "ok";
    case WriteStatus::BadPicture:
      return "the picture does not match its headers";
    case WriteStatus::NoName:
      return "no file name given";
    case WriteStatus::IsFolder:
      return "a folder has that name";
    case WriteStatus::NoFolder:
      return "the folder does not exist";
    case WriteStatus::PermissionDenied:
      return "permission denied";
    case WriteStatus::ReadOnly:
      return "read-only file system";
    case WriteStatus::NoSpace:
      return "no space left on the device";
    case WriteStatus::NameTooLong:
      return "file name too long";
    case WriteStatus::WriteError:
      return "write error";
  }
  return "unknown error";
}

std::array<std::uint8_t, kBmpHeadersSize> SerializeBmpHeaders(const BITMAPFILEHEADER& file_header,
                                                              const BITMAPINFO& info) {
  std::array<std::uint8_t, kBmpHeadersSize> bytes{};
  ByteWriter w(bytes.data());
  const BITMAPFILEHEADER& fh = file_header;
  w.U16(fh.bfType);
  w.U32(fh.bfSize);
  w.U16(fh.bfReserved1);
  w.U16(fh.bfReserved2);
  w.U32(fh.bfOffBits);
  const BITMAPINFOHEADER& ih = info.bmiHeader;
  w.U32(ih.biSize);
  w.I32(ih.biWidth);
  w.I32(ih.biHeight);
  w.U16(ih.biPlanes);
  w.U16(ih.biBitCount);
  w.U32(ih.biCompression);
  w.U32(ih.biSizeImage);
  w.I32(ih.biXPelsPerMeter);
  w.I32(ih.biYPelsPerMeter);
  w.U32(ih.biClrUsed);
  w.U32(ih.biClrImportant);
  const RGBQUAD& q = info.bmiColors[0];
  w.U8(q.rgbBlue);
  w.U8(q.rgbGreen);
  w.U8(q.rgbRed);
  w.U8(q.rgbReserved);
  return bytes;
}

void FillInfoHeader(BITMAPINFO& info, std::int32_t width, std::int32_t height) {
  BITMAPINFOHEADER& ih = info.bmiHeader;
  ih.biSize = 40;
  ih.biWidth = width;
  ih.biHeight = height;
  ih.biBitCount = 32;
  ih.biPlanes = 1;
  // The loader guarantees Width × Height × 4 fits in a signed 32-bit integer.
  const std::int64_t image = static_cast<std::int64_t>(width) * static_cast<std::int64_t>(height) * 4;
  ih.biSizeImage = image > 0 && image <= INT32_MAX ? static_cast<std::uint32_t>(image) : 0;
}

WriteStatus ReplaceFile(const std::filesystem::path& path,
                        const std::function<bool(std::FILE*)>& write) {
  if (path.empty() || !path.has_filename()) return WriteStatus::NoName;
  std::FILE* file = nullptr;
  WriteStatus status = WriteStatus::Ok;
  const std::filesystem::path temp = CreateTempBeside(path, file, status);
  if (file == nullptr) return status;

  errno = 0;
  bool ok = write(file) && std::fflush(file) == 0;
  int error = errno;
  if (std::fclose(file) != 0 && ok) {
    ok = false;
    error = errno;
  }
  if (ok) {
    CarryOverOwnership(path, temp);
    // rename replaces an existing file in one step; a folder of that name makes it fail.
    errno = 0;
    ok = std::rename(temp.c_str(), path.c_str()) == 0;
    error = errno;
  }
  if (ok) return WriteStatus::Ok;
  std::remove(temp.c_str());
  return FromErrno(error);
}

void FillFileHeader(BITMAPFILEHEADER& file_header, const BITMAPINFO& info) {
  file_header.bfType = 0x4D42;
  file_header.bfOffBits = kBmpHeadersSize;
  file_header.bfSize = info.bmiHeader.biSizeImage + file_header.bfOffBits;
}

WriteStatus WriteBmp(const std::filesystem::path& path, BITMAPFILEHEADER& file_header,
                     const BITMAPINFO& info, std::span<const std::uint32_t> pixels) {
  FillFileHeader(file_header, info);

  // Never write more or fewer pixel bytes than the headers announce.
  if (static_cast<std::uint64_t>(pixels.size()) * 4 != info.bmiHeader.biSizeImage) {
    return WriteStatus::BadPicture;
  }
  const auto headers = SerializeBmpHeaders(file_header, info);
  return ReplaceFile(path, [&](std::FILE* file) {
    return std::fwrite(headers.data(), 1, headers.size(), file) == headers.size() &&
           WritePixels(file, pixels);
  });
}

}  // namespace bmp
