// LoadPdtMemory's time on each file named, native, as the baseline of the
// web app's decoding time: prints "name<TAB>best ms" per file, the fastest
// of REPEAT runs (on a shared machine, noise only ever adds time).
// QUILLON_PDT_KERNEL names the kernel; the one used is named on stderr.
//   native_decode REPEAT FILE...
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

#include "pdt/kernel.h"
#include "pdt/mdl_pdt.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: native_decode REPEAT FILE...\n");
    return 2;
  }
  const int repeat = std::atoi(argv[1]);
  mdl_pdt::PdtHeader header;
  mdl_pdt::PixelBuffer pixels;  // reused, as the web app's picture reuses its memory
  for (int i = 2; i < argc; ++i) {
    std::ifstream in(argv[i], std::ios::binary);
    const std::vector<std::uint8_t> file{std::istreambuf_iterator<char>(in), {}};
    std::vector<double> runs;
    for (int r = 0; r < repeat; ++r) {
      const auto start = std::chrono::steady_clock::now();
      if (mdl_pdt::LoadPdtMemory(file, header, pixels) != mdl_pdt::PdtStatus::Ok) {
        std::fprintf(stderr, "%s: not decoded\n", argv[i]);
        return 1;
      }
      runs.push_back(
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
              .count());
    }
    std::printf("%s\t%.4f\n", argv[i], *std::min_element(runs.begin(), runs.end()));
  }
  std::fprintf(stderr, "%s\n", mdl_pdt::KernelInUse());
  return 0;
}
