// Reading PDT pictures: a 32-byte header whose signature holds "PDT10",
// followed by an LZ77-style stream of 24-bit pixels.
//
// Buffers in, buffers out, failures as return values, no global state.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <new>
#include <span>
#include <type_traits>
#include <utility>
#include <vector>

namespace mdl_pdt {

// The 32-byte file header, field by field as stored (little-endian on disk).
struct PdtHeader {
  std::array<char, 8> Signature{};
  std::int32_t FileSize = 0;  // whole file in bytes, header included
  std::int32_t Width = 0;
  std::int32_t Height = 0;
  std::array<std::uint8_t, 12> Reserved{};  // kept as read, not interpreted
};

namespace detail {
// Memory for a pixel buffer. Blocks of a picture's size are aligned to 2 MiB
// and, on Linux, offered huge pages: a first load then touches a few pages
// instead of thousands, and every pass over the picture misses the TLB less.
void* AllocatePixels(std::size_t bytes);
void FreePixels(void* p, std::size_t bytes) noexcept;
}  // namespace detail

// std::allocator, except that elements made without a value are left
// uninitialised rather than zeroed: a loader writes every pixel itself, and
// zeroing a large picture first costs as much as a copy of it. The memory
// comes from AllocatePixels.
template <class T>
struct DefaultInitAllocator : std::allocator<T> {
  using value_type = T;
  template <class U>
  struct rebind {
    using other = DefaultInitAllocator<U>;
  };
  DefaultInitAllocator() = default;
  // Implicit, like std::allocator's: containers convert between rebound copies.
  template <class U>
  // cppcheck-suppress noExplicitConstructor
  DefaultInitAllocator(const DefaultInitAllocator<U>& /*other*/) noexcept {}
  T* allocate(std::size_t n) {
    if (n > std::size_t(-1) / sizeof(T)) throw std::bad_array_new_length();
    return static_cast<T*>(detail::AllocatePixels(n * sizeof(T)));
  }
  void deallocate(T* p, std::size_t n) noexcept { detail::FreePixels(p, n * sizeof(T)); }
  template <class U>
  void construct(U* p) noexcept(std::is_nothrow_default_constructible_v<U>) {
    ::new (static_cast<void*>(p)) U;
  }
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};

// Width × Height pixels, each 0xFF000000 | R << 16 | G << 8 | B, so that the
// little-endian bytes are B, G, R, 0xFF. After a load, row 0 is the bottom row.
// resize() and PixelBuffer(n) leave new pixels unset; give a value where one
// is needed.
using PixelBuffer = std::vector<std::uint32_t, DefaultInitAllocator<std::uint32_t>>;

// Why a load failed; Ok when it did not.
enum class PdtStatus {
  Ok,
  NotFound,          // no file of that name (or a folder on its path is missing)
  PermissionDenied,  // the file may not be read
  CannotOpen,        // the file cannot be opened for another reason
  CannotRead,        // a read error while reading it
  HeaderTooShort,    // fewer than 32 bytes
  NotPdt10,          // the signature does not hold "PDT10"
  BadFileSize,       // FileSize leaves no payload (below 33)
  BadDimensions,     // Width or Height below 1
  TooLarge,          // Width × Height × 4 does not fit in a signed 32-bit integer
  StreamTruncated,   // the stream ends before the picture is complete
  CopyBeforeStart,   // a copy reaches back before the first pixel
};

inline constexpr std::size_t kHeaderSize = 32;
// The most pixels one payload byte can produce: a 2-byte copy token yields 16.
inline constexpr std::size_t kMaxPixelsPerByte = 8;

// A short phrase in plain words, e.g. "not a PDT10 file".
const char* Describe(PdtStatus status);

// Reads the 32 header bytes field by field (independent of the host's byte
// order) and tests the signature. Fewer than 32 bytes: HeaderTooShort and
// `header` untouched; otherwise `header` is overwritten whatever the result.
PdtStatus ParseHeader(std::span<const std::uint8_t> bytes, PdtHeader& header);

// Checks the header's sizes against a payload of `payload_bytes` bytes, before
// anything is allocated: rejects pictures the payload cannot possibly fill.
PdtStatus CheckHeader(const PdtHeader& header, std::size_t payload_bytes);

// Expands `payload` into Width × Height pixels, top row first. `pixels` is
// replaced, reusing its memory when it has room; on failure it is left empty.
// Decoding stops after exactly Width × Height pixels, cutting the last copy
// there. Never reads or writes out of bounds.
PdtStatus DecodeStream(std::span<const std::uint8_t> payload, std::int32_t width,
                       std::int32_t height, PixelBuffer& pixels);

// DecodeStream over the header's Width and Height; releases `payload` before
// returning. `status`, when given, receives the reason.
bool DecodePdt10(const PdtHeader& header, std::vector<std::uint8_t>& payload, PixelBuffer& pixels,
                 PdtStatus* status = nullptr);

// Reverses the row order in place: row 0 and row Height − 1 swap, and so on.
void FlipRows(PixelBuffer& pixels, std::int32_t width, std::int32_t height);

// Reads, decodes and flips a PDT file, through the same decoder as
// LoadPdtMemory, a piece of the file at a time. `pixels` is reused without a
// new allocation when its capacity is enough. On failure it holds no picture:
// untouched when the signature is rejected, otherwise emptied (size 0) but
// keeping its capacity for the next load.
PdtStatus LoadPdtFile(const std::filesystem::path& path, PdtHeader& header, PixelBuffer& pixels);

// Loads a PDT file held in memory (the 32 header bytes, then the payload):
// the same checks, pixels and failures as LoadPdtFile.
PdtStatus LoadPdtMemory(std::span<const std::uint8_t> file, PdtHeader& header, PixelBuffer& pixels);

// Receives a picture one row at a time as it is decoded, top row first, so
// that a caller who only passes the rows on (scaling, copying into an image
// of its own) needs no memory for the whole picture.
class RowSink {
 public:
  virtual ~RowSink() = default;
  // The header has been read and checked; rows follow.
  virtual void Begin(const PdtHeader& header) = 0;
  // Row `index` (0 = top), Width pixels; valid only during the call.
  virtual void Row(std::size_t index, std::span<const std::uint32_t> pixels) = 0;
};

// LoadPdtFile and LoadPdtMemory with the rows handed to `sink` instead of
// stored: the same checks, pixels and failures. A failure can come after some
// rows have been handed over; the caller decides what they are worth.
PdtStatus DecodeRowsFile(const std::filesystem::path& path, PdtHeader& header, RowSink& sink);
PdtStatus DecodeRowsMemory(std::span<const std::uint8_t> file, PdtHeader& header, RowSink& sink);

// LoadPdtFile with a Boolean result: true when a picture was loaded.
bool LoadPdt(const std::filesystem::path& path, PdtHeader& header, PixelBuffer& pixels);

}  // namespace mdl_pdt
