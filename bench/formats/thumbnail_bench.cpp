// The thumbnailer's work (load, downscale to 256, write the PNG) against
// LoadPdt of the same 1920 × 1080 pictures; prints the ratio of the medians
// per picture and of their sums. The two are timed in alternation, so that a
// busy spell on a shared machine slows both rather than one of them.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <unistd.h>

#include "pdt/mdl_pdt.h"
#include "thumbnailer/thumbnail.h"

namespace fs = std::filesystem;

namespace {

double Seconds(const std::function<void()>& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double Median(std::vector<double> times) {
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
    const auto load = [&] { mdl_pdt::LoadPdt(input, header, pixels); };
    const auto thumb = [&] { thumbnailer::WriteThumbnail(input, out, 256); };
    // Once untimed, to warm the file cache and the allocator, and to see
    // that both succeed.
    const std::string reason = thumbnailer::WriteThumbnail(input, out, 256);
    if (!mdl_pdt::LoadPdt(input, header, pixels) || !reason.empty()) {
      std::fprintf(stderr, "%s: %s\n", input.c_str(),
                   reason.empty() ? "cannot load" : reason.c_str());
      return 1;
    }
    std::vector<double> load_times;
    std::vector<double> thumb_times;
    for (int k = 0; k < kRounds; ++k) {
      load_times.push_back(Seconds(load));
      // A file manager names a new output file each time; replacing an
      // existing one can cost the file system more than the whole picture.
      fs::remove(out, ec);
      thumb_times.push_back(Seconds(thumb));
    }
    const double load_time = Median(load_times);
    const double thumb_time = Median(thumb_times);
    std::printf("%-36s LoadPdt %6.2f ms  thumbnail %6.2f ms  ratio %.2f\n",
                input.filename().c_str(), load_time * 1e3, thumb_time * 1e3,
                thumb_time / load_time);
    load_total += load_time;
    thumb_total += thumb_time;
  }
  fs::remove(out, ec);
  std::printf("thumbnail at 256 / LoadPdt, 1920x1080: %.2fx (goal <= 1.5x)\n",
              thumb_total / load_total);
  return 0;
}
