// Every decoding kernel this machine runs against the reference decoder, in
// one run: for each picture of the shared set, the best of several rounds of
// the reference on the payload in memory, DecodeStream (the same work: the
// payload in memory, top row first, into a reused buffer), LoadPdtMemory and
// LoadPdt from a file in the page cache (both also lay the rows bottom row
// first, as a BMP stores them; buffers reused), the kernels taking turns
// within each round. Prints, per kernel, reference time over the kernel's in
// total and for the slowest picture, and LoadPdt's time over LoadPdtMemory's.
// Needs nothing but the decoder, so that the WebAssembly build can run it too.
//
// usage: quillon_kernel_ratios [PICTURE_DIR] [ROUNDS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "devtools/reference_decoder.h"
#include "pdt/kernel.h"
#include "pdt/mdl_pdt.h"

namespace {

struct Picture {
  std::string name;
  std::filesystem::path path;
  std::vector<std::uint8_t> file;
  mdl_pdt::PdtHeader header;
};

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "quillon_kernel_ratios: %s\n", what.c_str());
  std::exit(1);
}

// The time `f` takes: CPU time where there is one, so that other programs
// on a shared machine count less; the elapsed time under node. `f` runs once
// untimed first, so that every decoder starts with its own input and output
// in the cache, whatever ran before it.
template <class F>
double Seconds(F&& f) {
  f();
#if defined(CLOCK_PROCESS_CPUTIME_ID) && !defined(__EMSCRIPTEN__)
  timespec start{};
  timespec end{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &start);
  f();
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &end);
  return static_cast<double>(end.tv_sec - start.tv_sec) +
         static_cast<double>(end.tv_nsec - start.tv_nsec) * 1e-9;
#else
  const auto start = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
#endif
}

}  // namespace

int main(int argc, char** argv) {
  const std::filesystem::path dir = argc > 1 ? argv[1] : QUILLON_BENCH_PICTURES;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 7;
  std::vector<Picture> pictures;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
    if (entry.path().extension() != ".pdt") continue;
    Picture pic;
    pic.name = entry.path().stem().string();
    pic.path = entry.path();
    std::ifstream in(entry.path(), std::ios::binary);
    pic.file.assign(std::istreambuf_iterator<char>(in), {});
    if (mdl_pdt::ParseHeader(pic.file, pic.header) != mdl_pdt::PdtStatus::Ok) Fail(pic.name);
    pictures.push_back(std::move(pic));
  }
  if (pictures.empty()) Fail("no pictures in " + dir.string());
  std::sort(pictures.begin(), pictures.end(),
            [](const Picture& a, const Picture& b) { return a.name < b.name; });

  std::vector<const char*> kernels;
  for (const char* name : mdl_pdt::KernelNames()) {
    if (mdl_pdt::KernelRunnable(name)) kernels.push_back(name);
  }
  const std::size_t n = pictures.size();
  const std::size_t kn = kernels.size();
  std::vector<double> reference(n, 1e30);
  std::vector<double> stream(n * kn, 1e30);
  std::vector<double> memory(n * kn, 1e30);
  std::vector<double> file(n * kn, 1e30);

  std::vector<std::uint32_t> ref_pixels;
  mdl_pdt::PixelBuffer pixels;
  mdl_pdt::PixelBuffer top_first;
  mdl_pdt::PixelBuffer expected;
  mdl_pdt::PdtHeader header;
  for (std::size_t p = 0; p < n; ++p) {
    const Picture& pic = pictures[p];
    const std::span<const std::uint8_t> payload =
        std::span<const std::uint8_t>(pic.file).subspan(mdl_pdt::kHeaderSize);
    if (!pdtref::ReferenceDecode(payload, pic.header.Width, pic.header.Height, ref_pixels))
      Fail("the reference cannot decode " + pic.name);
    expected.assign(ref_pixels.begin(), ref_pixels.end());
    mdl_pdt::FlipRows(expected, pic.header.Width, pic.header.Height);
    for (const char* k : kernels) {  // every kernel must agree before it is timed
      mdl_pdt::UseKernel(k);
      if (mdl_pdt::DecodeStream(payload, pic.header.Width, pic.header.Height, top_first) !=
              mdl_pdt::PdtStatus::Ok ||
          !std::equal(top_first.begin(), top_first.end(), ref_pixels.begin(), ref_pixels.end()) ||
          mdl_pdt::LoadPdtMemory(pic.file, header, pixels) != mdl_pdt::PdtStatus::Ok ||
          pixels != expected || !mdl_pdt::LoadPdt(pic.path, header, pixels) || pixels != expected)
        Fail(std::string(k) + " does not reproduce " + pic.name);
    }
    for (int r = 0; r < rounds; ++r) {
      reference[p] = std::min(reference[p], Seconds([&] {
                                pdtref::ReferenceDecode(payload, pic.header.Width,
                                                        pic.header.Height, ref_pixels);
                              }));
      for (std::size_t k = 0; k < kn; ++k) {
        mdl_pdt::UseKernel(kernels[k]);
        stream[p * kn + k] = std::min(stream[p * kn + k], Seconds([&] {
                                        mdl_pdt::DecodeStream(payload, pic.header.Width,
                                                              pic.header.Height, top_first);
                                      }));
        memory[p * kn + k] = std::min(
            memory[p * kn + k], Seconds([&] { mdl_pdt::LoadPdtMemory(pic.file, header, pixels); }));
        file[p * kn + k] = std::min(file[p * kn + k],
                                    Seconds([&] { mdl_pdt::LoadPdt(pic.path, header, pixels); }));
      }
    }
  }

  std::printf(
      "%zu pictures, best of %d rounds; reference time over the kernel's (higher is faster)\n", n,
      rounds);
  std::printf("%-9s %12s %12s %12s %12s %12s %12s %16s\n", "kernel", "stream", "stream worst",
              "memory", "memory worst", "LoadPdt", "LoadPdt worst", "LoadPdt/memory");
  double ref_total = 0;
  for (double t : reference) ref_total += t;
  for (std::size_t k = 0; k < kn; ++k) {
    double stream_total = 0, mem_total = 0, file_total = 0;
    double stream_worst = 1e30, mem_worst = 1e30, file_worst = 1e30;
    std::size_t worst_at = 0;
    for (std::size_t p = 0; p < n; ++p) {
      stream_total += stream[p * kn + k];
      stream_worst = std::min(stream_worst, reference[p] / stream[p * kn + k]);
      mem_total += memory[p * kn + k];
      file_total += file[p * kn + k];
      mem_worst = std::min(mem_worst, reference[p] / memory[p * kn + k]);
      if (reference[p] / file[p * kn + k] < file_worst) {
        file_worst = reference[p] / file[p * kn + k];
        worst_at = p;
      }
    }
    std::printf("%-9s %11.2fx %11.2fx %11.2fx %11.2fx %11.2fx %11.2fx %15.2fx  (slowest: %s)\n",
                kernels[k], ref_total / stream_total, stream_worst, ref_total / mem_total,
                mem_worst, ref_total / file_total, file_worst, file_total / mem_total,
                pictures[worst_at].name.c_str());
  }
  return 0;
}
