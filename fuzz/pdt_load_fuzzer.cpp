// Feeds arbitrary bytes to the PDT loader as a file on disk and checks what
// must hold for any input: a loaded picture has exactly Width × Height opaque
// pixels, a failure leaves no picture, and loading the same bytes from memory
// gives the same answer.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <span>
#include <string>

#include "pdt/mdl_pdt.h"

namespace {

std::filesystem::path g_dir;
std::filesystem::path g_file;

void RemoveScratch() {
  std::error_code ec;
  std::filesystem::remove_all(g_dir, ec);
}

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "pdt_load_fuzzer: %s\n", what);
  std::abort();
}

// A private folder for the input file: under $TMPDIR when set, otherwise in
// memory when /dev/shm is there.
void MakeScratch() {
  std::error_code ec;
  std::filesystem::path base;
  if (const char* tmpdir = std::getenv("TMPDIR"); tmpdir != nullptr && *tmpdir != '\0') {
    base = tmpdir;
  } else if (std::filesystem::is_directory("/dev/shm", ec) && access("/dev/shm", W_OK) == 0) {
    base = "/dev/shm";
  } else {
    base = std::filesystem::temp_directory_path();
  }
  std::string pattern = (base / "quillon-fuzz-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) Fail("cannot create a scratch folder");
  g_dir = pattern;
  g_file = g_dir / "input.pdt";
  std::atexit(RemoveScratch);
}

void WriteInput(const std::uint8_t* data, std::size_t size) {
  std::FILE* f = std::fopen(g_file.c_str(), "wb");
  if (f == nullptr) Fail("cannot write the input file");
  if (size > 0 && std::fwrite(data, 1, size, f) != size) Fail("cannot write the input file");
  if (std::fclose(f) != 0) Fail("cannot write the input file");
}

// The loader's answer worked out from the bytes in memory: header, limits,
// then the stream over what the file holds up to FileSize.
mdl_pdt::PdtStatus LoadFromMemory(std::span<const std::uint8_t> bytes, mdl_pdt::PdtHeader& header,
                         mdl_pdt::PixelBuffer& pixels) {
  const mdl_pdt::PdtStatus parsed = mdl_pdt::ParseHeader(bytes, header);
  if (parsed != mdl_pdt::PdtStatus::Ok) return parsed;
  if (header.FileSize < 33) return mdl_pdt::PdtStatus::BadFileSize;
  const std::size_t declared = static_cast<std::size_t>(header.FileSize) - mdl_pdt::kHeaderSize;
  const std::span<const std::uint8_t> rest = bytes.subspan(mdl_pdt::kHeaderSize);
  const std::span<const std::uint8_t> payload = rest.first(std::min(declared, rest.size()));
  const mdl_pdt::PdtStatus checked = mdl_pdt::CheckHeader(header, payload.size());
  if (checked != mdl_pdt::PdtStatus::Ok) return checked;
  const mdl_pdt::PdtStatus decoded = mdl_pdt::DecodeStream(payload, header.Width, header.Height, pixels);
  if (decoded == mdl_pdt::PdtStatus::Ok) mdl_pdt::FlipRows(pixels, header.Width, header.Height);
  return decoded;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  MakeScratch();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  WriteInput(data, size);

  // Something the loader must not touch unless it succeeds or decodes.
  const mdl_pdt::PixelBuffer sentinel = {0x01020304u, 0x05060708u, 0x090A0B0Cu};
  mdl_pdt::PdtHeader header;
  mdl_pdt::PixelBuffer pixels = sentinel;
  const mdl_pdt::PdtStatus status = mdl_pdt::LoadPdtFile(g_file, header, pixels);

  mdl_pdt::PdtHeader bool_header;
  mdl_pdt::PixelBuffer bool_pixels = sentinel;
  const bool loaded = mdl_pdt::LoadPdt(g_file, bool_header, bool_pixels);
  if (loaded != (status == mdl_pdt::PdtStatus::Ok)) Fail("LoadPdt and LoadPdtFile disagree");

  if (status == mdl_pdt::PdtStatus::Ok) {
    if (header.Width < 1 || header.Height < 1) Fail("a picture without pixels was accepted");
    const auto w = static_cast<std::uint64_t>(header.Width);
    const auto h = static_cast<std::uint64_t>(header.Height);
    if (w * h * 4 > 0x7FFFFFFFu) Fail("a picture too large for a BMP was accepted");
    if (pixels.size() != w * h) Fail("pixel count differs from Width x Height");
    for (std::uint32_t p : pixels) {
      if ((p >> 24) != 0xFF) Fail("a pixel is not opaque");
    }
    if (bool_pixels != pixels) Fail("two loads of one file differ");
  } else if (!(pixels == sentinel || pixels.empty())) {
    Fail("a failed load left pixels behind");
  } else if (!(bool_pixels == sentinel || bool_pixels.empty())) {
    Fail("a failed LoadPdt left pixels behind");
  }
  if ((status == mdl_pdt::PdtStatus::NotPdt10 || status == mdl_pdt::PdtStatus::HeaderTooShort) &&
      pixels != sentinel) {
    Fail("a rejected header changed the pixel buffer");
  }

  mdl_pdt::PdtHeader mem_header;
  mdl_pdt::PixelBuffer mem_pixels;
  const mdl_pdt::PdtStatus mem_status =
      LoadFromMemory(std::span<const std::uint8_t>(data, size), mem_header, mem_pixels);
  if (mem_status != status) Fail("loading from the file and from memory disagree");
  if (status == mdl_pdt::PdtStatus::Ok && mem_pixels != pixels) Fail("file and memory pixels differ");
  return 0;
}
