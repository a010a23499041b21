// Feeds arbitrary bytes to the in-memory PDT loader and checks what must hold
// for any input: the result is the reference decoder's followed by
// FlipRows, a loaded picture has exactly Width × Height opaque pixels, a
// failure leaves no picture, a reused buffer gives the same answer, and the
// row-by-row decoder gives the same status and rows; all of it with every
// decoding kernel this machine runs (the others are named once at start).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>

#include "devtools/reference_decoder.h"
#include "pdt/kernel.h"
#include "pdt/mdl_pdt.h"

namespace {

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "pdt_load_fuzzer: %s\n", what);
  std::abort();
}

// Whether the reference decoder accepts the file, and its pixels bottom row first.
bool ReferenceLoad(std::span<const std::uint8_t> bytes, mdl_pdt::PixelBuffer& pixels) {
  mdl_pdt::PdtHeader header;
  if (mdl_pdt::ParseHeader(bytes, header) != mdl_pdt::PdtStatus::Ok) return false;
  if (header.FileSize < 33) return false;
  const std::size_t declared = static_cast<std::size_t>(header.FileSize) - mdl_pdt::kHeaderSize;
  const std::span<const std::uint8_t> rest = bytes.subspan(mdl_pdt::kHeaderSize);
  const std::span<const std::uint8_t> payload = rest.first(std::min(declared, rest.size()));
  // Sizes the reference decoder would allocate without a second thought.
  if (mdl_pdt::CheckHeader(header, payload.size()) != mdl_pdt::PdtStatus::Ok) return false;
  std::vector<std::uint32_t> top_first;
  if (!pdtref::ReferenceDecode(payload, header.Width, header.Height, top_first)) return false;
  pixels.assign(top_first.begin(), top_first.end());
  mdl_pdt::FlipRows(pixels, header.Width, header.Height);
  return true;
}

// Stores the rows it is handed bottom row first, as the loader does.
class BottomFirstRows : public mdl_pdt::RowSink {
 public:
  void Begin(const mdl_pdt::PdtHeader& header) override {
    height_ = static_cast<std::size_t>(header.Height);
    pixels.assign(static_cast<std::size_t>(header.Width) * height_, 0);
  }
  void Row(std::size_t index, std::span<const std::uint32_t> row) override {
    if (index >= height_ || row.size() * height_ != pixels.size()) Fail("a row out of place");
    std::copy(row.begin(), row.end(), pixels.begin() + (height_ - 1 - index) * row.size());
  }
  mdl_pdt::PixelBuffer pixels;

 private:
  std::size_t height_ = 0;
};

// The checks with the kernel in use, against the reference's `reference`.
void CheckKernel(std::span<const std::uint8_t> bytes, bool reference_ok,
                 const mdl_pdt::PixelBuffer& reference) {
  // Something the loader must not touch when it turns the signature down.
  const mdl_pdt::PixelBuffer sentinel = {0x01020304u, 0x05060708u, 0x090A0B0Cu};
  mdl_pdt::PdtHeader header;
  mdl_pdt::PixelBuffer pixels = sentinel;
  const mdl_pdt::PdtStatus status = mdl_pdt::LoadPdtMemory(bytes, header, pixels);

  if (reference_ok != (status == mdl_pdt::PdtStatus::Ok))
    Fail("the loader and the reference decoder disagree");

  if (status == mdl_pdt::PdtStatus::Ok) {
    const auto w = static_cast<std::uint64_t>(header.Width);
    const auto h = static_cast<std::uint64_t>(header.Height);
    if (w * h * 4 > 0x7FFFFFFFu) Fail("a picture too large for a BMP was accepted");
    if (pixels.size() != w * h) Fail("pixel count differs from Width x Height");
    if (pixels != reference) Fail("pixels differ from the reference decoder's");
    for (std::uint32_t p : pixels) {
      if ((p >> 24) != 0xFF) Fail("a pixel is not opaque");
    }
  } else if (status == mdl_pdt::PdtStatus::NotPdt10 ||
             status == mdl_pdt::PdtStatus::HeaderTooShort) {
    if (pixels != sentinel) Fail("a rejected header changed the pixel buffer");
  } else if (!pixels.empty()) {
    Fail("a failed load left pixels behind");
  }

  // Again into the buffer just used, which may keep its memory.
  mdl_pdt::PdtHeader again_header;
  const mdl_pdt::PdtStatus again = mdl_pdt::LoadPdtMemory(bytes, again_header, pixels);
  if (again != status) Fail("a second load of the same bytes gives another status");
  if (again == mdl_pdt::PdtStatus::Ok && pixels != reference)
    Fail("a reused buffer gives other pixels");

  BottomFirstRows rows;
  mdl_pdt::PdtHeader rows_header;
  if (mdl_pdt::DecodeRowsMemory(bytes, rows_header, rows) != status)
    Fail("the row-by-row decoder gives another status");
  if (status == mdl_pdt::PdtStatus::Ok && rows.pixels != reference)
    Fail("the row-by-row decoder gives other pixels");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  for (const char* name : mdl_pdt::KernelNames()) {
    if (!mdl_pdt::KernelRunnable(name)) {
      std::fprintf(stderr, "pdt_load_fuzzer: the %s kernel cannot run here; skipped\n", name);
    }
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  mdl_pdt::PixelBuffer reference;
  const bool reference_ok = ReferenceLoad(bytes, reference);
  for (const char* name : mdl_pdt::KernelNames()) {
    if (mdl_pdt::UseKernel(name)) CheckKernel(bytes, reference_ok, reference);
  }
  return 0;
}
