// The PNG writer for systems without libpng (the Windows build): the same
// files in content, made with zlib alone. PNG's container is a signature and
// a few chunks, each a length, a type, its data and a CRC; zlib compresses
// the filtered rows and computes the CRCs.
#include <array>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <zlib.h>

#include "png/png_writer.h"

namespace png {
namespace {

constexpr std::size_t kChunkData = std::size_t{1} << 16;  // bytes per IDAT chunk

void PutU32(std::uint8_t* out, std::uint32_t v) {
  out[0] = static_cast<std::uint8_t>(v >> 24);
  out[1] = static_cast<std::uint8_t>(v >> 16);
  out[2] = static_cast<std::uint8_t>(v >> 8);
  out[3] = static_cast<std::uint8_t>(v);
}

bool WriteChunk(std::FILE* file, const char (&type)[5], const std::uint8_t* data,
                std::size_t size) {
  std::uint8_t head[8];
  PutU32(head, static_cast<std::uint32_t>(size));
  for (int k = 0; k < 4; ++k) head[4 + k] = static_cast<std::uint8_t>(type[k]);
  uLong crc = crc32(0, head + 4, 4);
  if (size > 0) crc = crc32(crc, data, static_cast<uInt>(size));
  std::uint8_t tail[4];
  PutU32(tail, static_cast<std::uint32_t>(crc));
  return std::fwrite(head, 1, 8, file) == 8 &&
         (size == 0 || std::fwrite(data, 1, size, file) == size) &&
         std::fwrite(tail, 1, 4, file) == 4;
}

std::uint8_t Paeth(int a, int b, int c) {
  const int p = a + b - c;
  const int pa = std::abs(p - a);
  const int pb = std::abs(p - b);
  const int pc = std::abs(p - c);
  if (pa <= pb && pa <= pc) return static_cast<std::uint8_t>(a);
  return static_cast<std::uint8_t>(pb <= pc ? b : c);
}

// Filters one row of RGB bytes (`prev` the row above, zeros for the first)
// into `out`: the filter type byte, then the row. Small tries all five filters
// and keeps the one whose bytes, read as signed, sum to the least, as libpng
// does by default; Fast always takes Sub.
void FilterRow(const std::vector<std::uint8_t>& row, const std::vector<std::uint8_t>& prev,
               Compression compression, std::array<std::vector<std::uint8_t>, 5>& trial,
               const std::vector<std::uint8_t>*& out) {
  constexpr std::size_t bpp = 3;
  const std::size_t n = row.size();
  const int first = compression == Compression::Fast ? 1 : 0;
  const int last = compression == Compression::Fast ? 1 : 4;
  std::uint64_t best_sum = UINT64_MAX;
  for (int type = first; type <= last; ++type) {
    std::vector<std::uint8_t>& f = trial[static_cast<std::size_t>(type)];
    f[0] = static_cast<std::uint8_t>(type);
    std::uint64_t sum = 0;
    for (std::size_t x = 0; x < n; ++x) {
      const int a = x >= bpp ? row[x - bpp] : 0;
      const int b = prev[x];
      const int c = x >= bpp ? prev[x - bpp] : 0;
      int predicted = 0;
      switch (type) {
        case 1:
          predicted = a;
          break;
        case 2:
          predicted = b;
          break;
        case 3:
          predicted = (a + b) / 2;
          break;
        case 4:
          predicted = Paeth(a, b, c);
          break;
        default:
          break;
      }
      const auto value = static_cast<std::uint8_t>(row[x] - predicted);
      f[x + 1] = value;
      sum += value < 128 ? value : 256u - value;
    }
    if (sum < best_sum) {
      best_sum = sum;
      out = &f;
    }
  }
}

// Deflates the rows into IDAT chunks as the output buffer fills.
class IdatWriter {
 public:
  IdatWriter(std::FILE* file, Compression compression) : file_(file), buffer_(kChunkData) {
    const bool fast = compression == Compression::Fast;
    ok_ = deflateInit2(&stream_, fast ? Z_BEST_SPEED : Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15, 8,
                       fast ? Z_RLE : Z_DEFAULT_STRATEGY) == Z_OK;
    initialised_ = ok_;
    stream_.next_out = buffer_.data();
    stream_.avail_out = static_cast<uInt>(buffer_.size());
  }
  ~IdatWriter() {
    if (initialised_) deflateEnd(&stream_);
  }
  IdatWriter(const IdatWriter&) = delete;
  IdatWriter& operator=(const IdatWriter&) = delete;

  bool Add(const std::uint8_t* data, std::size_t size) { return Run(data, size, Z_NO_FLUSH); }
  bool Finish() { return Run(nullptr, 0, Z_FINISH) && Flush(); }

 private:
  bool Run(const std::uint8_t* data, std::size_t size, int flush) {
    if (!ok_) return false;
    stream_.next_in = const_cast<Bytef*>(data);  // zlib's interface predates const
    stream_.avail_in = static_cast<uInt>(size);
    for (;;) {
      const int result = deflate(&stream_, flush);
      if (result == Z_STREAM_ERROR) return ok_ = false;
      if (stream_.avail_out == 0 && !Flush()) return false;
      if (flush == Z_FINISH ? result == Z_STREAM_END : stream_.avail_in == 0) return true;
    }
  }

  bool Flush() {
    const std::size_t used = buffer_.size() - stream_.avail_out;
    if (used > 0 && !WriteChunk(file_, "IDAT", buffer_.data(), used)) return ok_ = false;
    stream_.next_out = buffer_.data();
    stream_.avail_out = static_cast<uInt>(buffer_.size());
    return true;
  }

  std::FILE* file_;
  std::vector<std::uint8_t> buffer_;
  z_stream stream_{};
  bool ok_ = false;
  bool initialised_ = false;
};

bool Encode(std::FILE* file, std::uint32_t width, std::uint32_t height, const std::uint32_t* pixels,
            Compression compression) {
  static constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::uint8_t header[13] = {};
  PutU32(header, width);
  PutU32(header + 4, height);
  header[8] = 8;  // bits per sample
  header[9] = 2;  // RGB; compression, filter and interlace methods stay 0
  if (std::fwrite(kSignature, 1, 8, file) != 8 || !WriteChunk(file, "IHDR", header, 13)) {
    return false;
  }
  const std::size_t row_bytes = std::size_t{width} * 3;
  std::vector<std::uint8_t> row(row_bytes);
  std::vector<std::uint8_t> prev(row_bytes, 0);
  std::array<std::vector<std::uint8_t>, 5> trial;
  for (auto& t : trial) t.resize(row_bytes + 1);
  IdatWriter idat(file, compression);
  // PNG goes top row first; the picture holds the bottom row first.
  for (std::uint32_t y = height; y-- > 0;) {
    const std::uint32_t* src = pixels + std::size_t{y} * width;
    for (std::uint32_t x = 0; x < width; ++x) {
      const std::uint32_t p = src[x];
      row[x * 3] = static_cast<std::uint8_t>(p >> 16);
      row[x * 3 + 1] = static_cast<std::uint8_t>(p >> 8);
      row[x * 3 + 2] = static_cast<std::uint8_t>(p);
    }
    const std::vector<std::uint8_t>* filtered = nullptr;
    FilterRow(row, prev, compression, trial, filtered);
    if (!idat.Add(filtered->data(), filtered->size())) return false;
    row.swap(prev);
  }
  return idat.Finish() && WriteChunk(file, "IEND", nullptr, 0);
}

}  // namespace

files::Status WritePng(const std::filesystem::path& path, std::int32_t width, std::int32_t height,
                       std::span<const std::uint32_t> pixels, Compression compression,
                       files::Replace replace) {
  if (width < 1 || height < 1) return files::Status::BadContent;
  const auto w = static_cast<std::uint32_t>(width);
  const auto h = static_cast<std::uint32_t>(height);
  if (pixels.size() != std::size_t{w} * h) return files::Status::BadContent;
  return files::WriteFile(path, replace, [&](std::FILE* file) {
    return Encode(file, w, h, pixels.data(), compression);
  });
}

}  // namespace png
