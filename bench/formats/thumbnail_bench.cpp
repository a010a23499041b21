// The thumbnailer's work (load, downscale to 256, write the PNG) against
// LoadPdt of the same 1920 × 1080 pictures; prints the ratio of the medians.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include "pdt/mdl_pdt.h"
#include "thumbnailer/thumbnail.h"

namespace fs = std::filesystem;

namespace {

template <class F>
double MedianSeconds(F&& work, int rounds) {
  std::vector<double> times;
  for (int k = 0; k < rounds; ++k) {
    const auto start = std::chrono::steady_clock::now();
    work();
    times.push_back(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

}  // namespace

int main() {
  const fs::path dir = QUILLON_BENCH_PICTURES;
  std::vector<fs::path> inputs;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.ends_with("1920x1080.pdt")) inputs.push_back(entry.path());
  }
  if (inputs.empty()) {
    std::printf("skipped: no 1920x1080 pictures in %s\n", dir.c_str());
    return 0;
  }
  std::sort(inputs.begin(), inputs.end());
  const fs::path out =
      fs::temp_directory_path() / ("quillon-thumb-bench-" + std::to_string(::getpid()) + ".png");
  constexpr int kRounds = 31;
  double load_total = 0;
  double thumb_total = 0;
  for (const fs::path& input : inputs) {
    mdl_pdt::PdtHeader header;
    mdl_pdt::PixelBuffer pixels;
    const double load = MedianSeconds([&] { mdl_pdt::LoadPdt(input, header, pixels); }, kRounds);
    const double thumb =
        MedianSeconds([&] { thumbnailer::WriteThumbnail(input, out, 256); }, kRounds);
    std::printf("%-36s LoadPdt %6.2f ms  thumbnail %6.2f ms  ratio %.2f\n",
                input.filename().c_str(), load * 1e3, thumb * 1e3, thumb / load);
    load_total += load;
    thumb_total += thumb;
  }
  fs::remove(out, ec);
  std::printf("thumbnail at 256 / LoadPdt, 1920x1080: %.2fx (goal <= 1.5x)\n",
              thumb_total / load_total);
  return 0;
}
