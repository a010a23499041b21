// Speed of loading and decoding PDT pictures, each measured against a baseline
// in the same run: LoadPdt against a memcpy of its output, DecodeStream against
// the plain pixel-at-a-time decoder. bench/core/ratios.sh prints the ratios.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "bench/core/reference_decoder.h"
#include "pdt/mdl_pdt.h"
#include "devtools/pdt_encoder.h"
#include "devtools/sample_art.h"

namespace {

struct BenchPicture {
  std::string name;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::vector<std::uint8_t> payload;  // the stream after the 32-byte header
  std::filesystem::path path;         // the whole file on disk
  std::vector<std::uint32_t> top_first;
};

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "benchmark set-up failed: %s\n", what.c_str());
  std::abort();
}

// Both decoders must give back exactly the drawn pixels before anything is timed.
void CheckDecoders(const BenchPicture& pic) {
  std::vector<std::uint32_t> out;
  if (!quillon_bench::ReferenceDecode(pic.payload, pic.width, pic.height, out) ||
      out != pic.top_first) {
    Fail("the reference decoder does not reproduce " + pic.name);
  }
  mdl_pdt::PixelBuffer decoded;
  if (mdl_pdt::DecodeStream(pic.payload, pic.width, pic.height, decoded) != mdl_pdt::PdtStatus::Ok ||
      !std::ranges::equal(decoded, pic.top_first)) {
    Fail("DecodeStream does not reproduce " + pic.name);
  }
  mdl_pdt::PdtHeader header;
  mdl_pdt::PixelBuffer loaded;
  if (!mdl_pdt::LoadPdt(pic.path, header, loaded)) Fail("LoadPdt cannot load " + pic.name);
  const auto w = static_cast<std::size_t>(pic.width);
  const auto h = static_cast<std::size_t>(pic.height);
  for (std::size_t r = 0; r < h; ++r) {
    if (!std::equal(loaded.begin() + static_cast<std::ptrdiff_t>(r * w),
                    loaded.begin() + static_cast<std::ptrdiff_t>((r + 1) * w),
                    pic.top_first.begin() + static_cast<std::ptrdiff_t>((h - 1 - r) * w))) {
      Fail("LoadPdt does not give the rows of " + pic.name + " bottom first");
    }
  }
}

BenchPicture MakePicture(const std::filesystem::path& dir, std::string name,
                         const pdtgen::Picture& drawn) {
  BenchPicture pic;
  pic.name = std::move(name);
  pic.width = drawn.width;
  pic.height = drawn.height;
  pic.top_first.resize(drawn.pixels.size());
  for (std::size_t k = 0; k < drawn.pixels.size(); ++k) {
    pic.top_first[k] = 0xFF000000u | drawn.pixels[k];
  }
  const std::vector<std::uint8_t> file = pdtgen::EncodePdt(drawn.pixels, drawn.width, drawn.height);
  pic.payload.assign(file.begin() + static_cast<std::ptrdiff_t>(mdl_pdt::kHeaderSize), file.end());
  pic.path = dir / (pic.name + ".pdt");
  if (!pdtgen::WriteFile(pic.path, file)) Fail("cannot write " + pic.path.string());
  CheckDecoders(pic);
  return pic;
}

std::int64_t OutputBytes(const BenchPicture& pic) {
  return static_cast<std::int64_t>(pic.width) * pic.height * 4;
}

void SetCounters(benchmark::State& state, const BenchPicture& pic) {
  state.SetBytesProcessed(state.iterations() * OutputBytes(pic));
  state.SetItemsProcessed(state.iterations() * pic.width * pic.height);
  state.counters["payload_bytes"] = static_cast<double>(pic.payload.size());
}

// Reads the file, decodes and flips. With `fresh_buffer` every load starts
// from an empty pixel buffer, as the window's do; otherwise the buffer is
// reused from one load to the next.
void LoadLoop(benchmark::State& state, const BenchPicture& pic, bool fresh_buffer) {
  mdl_pdt::PdtHeader header;
  mdl_pdt::PixelBuffer pixels;
  for (auto _ : state) {
    if (fresh_buffer) mdl_pdt::PixelBuffer().swap(pixels);
    if (!mdl_pdt::LoadPdt(pic.path, header, pixels)) {
      state.SkipWithError("LoadPdt failed");
      break;
    }
    benchmark::DoNotOptimize(pixels.data());
    benchmark::ClobberMemory();
  }
  SetCounters(state, pic);
}

void LoadPdt(benchmark::State& state, const BenchPicture* pic) {
  LoadLoop(state, *pic, false);
}

void LoadPdtFresh(benchmark::State& state, const BenchPicture* pic) {
  LoadLoop(state, *pic, true);
}

// Baseline for LoadPdt: copying its W × H × 4 output bytes into a buffer
// that is already allocated.
void Memcpy(benchmark::State& state, const BenchPicture* pic) {
  const std::vector<std::uint32_t> from = pic->top_first;
  std::vector<std::uint32_t> to(from.size());
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), from.size() * sizeof(std::uint32_t));
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
  SetCounters(state, *pic);
}

void DecodeStream(benchmark::State& state, const BenchPicture* pic) {
  mdl_pdt::PixelBuffer pixels;
  for (auto _ : state) {
    if (mdl_pdt::DecodeStream(pic->payload, pic->width, pic->height, pixels) != mdl_pdt::PdtStatus::Ok) {
      state.SkipWithError("DecodeStream failed");
      break;
    }
    benchmark::DoNotOptimize(pixels.data());
    benchmark::ClobberMemory();
  }
  SetCounters(state, *pic);
}

// Baseline for DecodeStream.
void ReferenceDecode(benchmark::State& state, const BenchPicture* pic) {
  std::vector<std::uint32_t> pixels;
  for (auto _ : state) {
    if (!quillon_bench::ReferenceDecode(pic->payload, pic->width, pic->height, pixels)) {
      state.SkipWithError("ReferenceDecode failed");
      break;
    }
    benchmark::DoNotOptimize(pixels.data());
    benchmark::ClobberMemory();
  }
  SetCounters(state, *pic);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

  std::error_code ec;
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path(ec) /
      ("quillon-bench-" +
       std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
  std::filesystem::create_directories(dir, ec);
  if (ec) Fail("cannot create " + dir.string());

  // Game art (long runs and repeated rows) at two screen sizes, and noise,
  // whose stream is almost only literals.
  std::vector<BenchPicture> pictures;
  pictures.push_back(MakePicture(dir, "art_1280x720", pdtgen::DrawGameArt(1280, 720, 7)));
  pictures.push_back(MakePicture(dir, "art_1920x1080", pdtgen::DrawGameArt(1920, 1080, 11)));
  pictures.push_back(MakePicture(dir, "noise_1920x1080", pdtgen::DrawNoise(1920, 1080, 3)));

  for (const BenchPicture& pic : pictures) {
    const BenchPicture* p = &pic;
    benchmark::RegisterBenchmark(("LoadPdt/" + pic.name).c_str(), LoadPdt, p)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark(("LoadPdtFresh/" + pic.name).c_str(), LoadPdtFresh, p)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark(("Memcpy/" + pic.name).c_str(), Memcpy, p)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark(("DecodeStream/" + pic.name).c_str(), DecodeStream, p)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark(("ReferenceDecode/" + pic.name).c_str(), ReferenceDecode, p)
        ->Unit(benchmark::kMicrosecond);
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::filesystem::remove_all(dir, ec);
  return 0;
}
