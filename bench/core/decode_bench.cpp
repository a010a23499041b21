// Speed of loading and decoding PDT pictures, each measured against baselines
// in the same run: LoadPdt (file in the page cache, pixel buffer reused)
// against the reference decoder on the payload in memory, against
// the in-memory loader and against a memcpy of its output; DecodeStream against
// the reference decoder. bench/core/ratios.sh prints the ratios.
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

#include "devtools/reference_decoder.h"
#include "pdt/kernel.h"
#include "pdt/mdl_pdt.h"
#include "devtools/pdt_encoder.h"
#include "devtools/sample_art.h"

namespace {

struct BenchPicture {
  std::string name;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::vector<std::uint8_t> file;     // the whole file
  std::vector<std::uint8_t> payload;  // the stream after the 32-byte header
  std::filesystem::path path;         // the whole file on disk
  std::vector<std::uint32_t> top_first;
};

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "benchmark set-up failed: %s\n", what.c_str());
  std::abort();
}

// Every decoder must give back exactly the reference's pixels before anything
// is timed.
void CheckDecoders(const BenchPicture& pic) {
  mdl_pdt::PixelBuffer decoded;
  if (mdl_pdt::DecodeStream(pic.payload, pic.width, pic.height, decoded) !=
          mdl_pdt::PdtStatus::Ok ||
      !std::ranges::equal(decoded, pic.top_first)) {
    Fail("DecodeStream does not reproduce " + pic.name);
  }
  mdl_pdt::FlipRows(decoded, pic.width, pic.height);
  mdl_pdt::PdtHeader header;
  mdl_pdt::PixelBuffer loaded;
  if (!mdl_pdt::LoadPdt(pic.path, header, loaded) || loaded != decoded) {
    Fail("LoadPdt does not give the rows of " + pic.name + " bottom first");
  }
  if (mdl_pdt::LoadPdtMemory(pic.file, header, loaded) != mdl_pdt::PdtStatus::Ok ||
      loaded != decoded) {
    Fail("LoadPdtMemory does not give the rows of " + pic.name + " bottom first");
  }
}

BenchPicture FromFile(const std::filesystem::path& dir, std::string name,
                      std::vector<std::uint8_t> file) {
  BenchPicture pic;
  pic.name = std::move(name);
  mdl_pdt::PdtHeader header;
  if (mdl_pdt::ParseHeader(file, header) != mdl_pdt::PdtStatus::Ok) Fail(pic.name + ": bad header");
  pic.width = header.Width;
  pic.height = header.Height;
  pic.file = std::move(file);
  pic.payload.assign(pic.file.begin() + static_cast<std::ptrdiff_t>(mdl_pdt::kHeaderSize),
                     pic.file.end());
  if (!pdtref::ReferenceDecode(pic.payload, pic.width, pic.height, pic.top_first)) {
    Fail("the reference decoder cannot decode " + pic.name);
  }
  pic.path = dir / (pic.name + ".pdt");
  if (!pdtgen::WriteFile(pic.path, pic.file)) Fail("cannot write " + pic.path.string());
  CheckDecoders(pic);
  return pic;
}

BenchPicture Drawn(const std::filesystem::path& dir, std::string name,
                   const pdtgen::Picture& drawn) {
  BenchPicture pic =
      FromFile(dir, std::move(name), pdtgen::EncodePdt(drawn.pixels, drawn.width, drawn.height));
  for (std::size_t k = 0; k < drawn.pixels.size(); ++k) {
    if (pic.top_first[k] != (0xFF000000u | drawn.pixels[k])) {
      Fail("the reference decoder does not reproduce " + pic.name);
    }
  }
  return pic;
}

std::vector<std::uint8_t> ReadAll(const std::filesystem::path& path) {
  std::vector<std::uint8_t> bytes;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) Fail("cannot open " + path.string());
  std::uint8_t chunk[65536];
  for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) {
    bytes.insert(bytes.end(), chunk, chunk + n);
  }
  std::fclose(f);
  return bytes;
}

void SetCounters(benchmark::State& state, const BenchPicture& pic) {
  const std::int64_t pixels = static_cast<std::int64_t>(pic.width) * pic.height;
  state.SetBytesProcessed(state.iterations() * pixels * 4);
  state.SetItemsProcessed(state.iterations() * pixels);
  state.counters["payload_bytes"] = static_cast<double>(pic.payload.size());
}

// Reads the file, decodes and flips, into a pixel buffer reused from one load
// to the next.
void LoadPdt(benchmark::State& state, const BenchPicture* pic) {
  mdl_pdt::PdtHeader header;
  mdl_pdt::PixelBuffer pixels;
  for (auto _ : state) {
    if (!mdl_pdt::LoadPdt(pic->path, header, pixels)) {
      state.SkipWithError("LoadPdt failed");
      break;
    }
    benchmark::DoNotOptimize(pixels.data());
    benchmark::ClobberMemory();
  }
  SetCounters(state, *pic);
}

// The same from the file's bytes in memory.
void LoadPdtMemory(benchmark::State& state, const BenchPicture* pic) {
  mdl_pdt::PdtHeader header;
  mdl_pdt::PixelBuffer pixels;
  for (auto _ : state) {
    if (mdl_pdt::LoadPdtMemory(pic->file, header, pixels) != mdl_pdt::PdtStatus::Ok) {
      state.SkipWithError("LoadPdtMemory failed");
      break;
    }
    benchmark::DoNotOptimize(pixels.data());
    benchmark::ClobberMemory();
  }
  SetCounters(state, *pic);
}

// Copying the W × H × 4 output bytes into a buffer that is already allocated.
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
    if (mdl_pdt::DecodeStream(pic->payload, pic->width, pic->height, pixels) !=
        mdl_pdt::PdtStatus::Ok) {
      state.SkipWithError("DecodeStream failed");
      break;
    }
    benchmark::DoNotOptimize(pixels.data());
    benchmark::ClobberMemory();
  }
  SetCounters(state, *pic);
}

// The reference decoder on the payload in memory, into a reused buffer.
void ReferenceDecode(benchmark::State& state, const BenchPicture* pic) {
  std::vector<std::uint32_t> pixels;
  for (auto _ : state) {
    if (!pdtref::ReferenceDecode(pic->payload, pic->width, pic->height, pixels)) {
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
  // QUILLON_PDT_KERNEL chooses another kernel than the best.
  benchmark::AddCustomContext("pdt_kernel", mdl_pdt::KernelInUse());
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

  std::error_code ec;
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path(ec) /
      ("quillon-bench-" +
       std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
  std::filesystem::create_directories(dir, ec);
  if (ec) Fail("cannot create " + dir.string());

  // The shared set of game-art pictures, named bench_NN_CLASS_WxH.
  std::vector<BenchPicture> pictures;
  const std::filesystem::path shared = QUILLON_BENCH_PICTURES;
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(shared, ec)) {
    if (entry.path().extension() == ".pdt") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  if (files.empty()) {
    std::fprintf(stderr, "no bench pictures in %s; measuring the drawn pictures only\n",
                 shared.c_str());
  }
  for (const auto& path : files) pictures.push_back(FromFile(dir, path.stem(), ReadAll(path)));

  // The project's own drawn pictures: game art with long runs, and noise,
  // whose stream is almost only literals.
  pictures.push_back(Drawn(dir, "sample_art_1280x720", pdtgen::DrawGameArt(1280, 720, 7)));
  pictures.push_back(Drawn(dir, "sample_art_1920x1080", pdtgen::DrawGameArt(1920, 1080, 11)));
  pictures.push_back(Drawn(dir, "sample_noise_1920x1080", pdtgen::DrawNoise(1920, 1080, 3)));

  for (const BenchPicture& pic : pictures) {
    const BenchPicture* p = &pic;
    benchmark::RegisterBenchmark(("LoadPdt/" + pic.name).c_str(), LoadPdt, p)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark(("LoadPdtMemory/" + pic.name).c_str(), LoadPdtMemory, p)
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
