// Time from SelectFile to the painted picture, on Qt's offscreen platform.
//
// Each iteration loads the file once with LoadPdt alone and once through the
// window's SelectFile (load, paint into the kept surface, repaint the box),
// so both are measured in the same run under the same conditions. The
// reported time is SelectFile's; the counter "x_LoadPdt" is its ratio to
// LoadPdt alone.
#include <benchmark/benchmark.h>
#include <QApplication>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "pdt/mdl_pdt.h"
#include "devtools/pdt_encoder.h"
#include "devtools/sample_art.h"
#include "viewer/frm_main.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// A folder holding one 1920 × 1080 game-art picture, made once.
class PictureFolder {
 public:
  PictureFolder() {
    std::string pattern = (fs::temp_directory_path() / "quillon-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    dir_ = pattern;
    const pdtgen::Picture art = pdtgen::DrawGameArt(1920, 1080, 7);
    if (!pdtgen::WriteFile(file(), pdtgen::EncodePdt(art.pixels, art.width, art.height))) {
      std::abort();
    }
  }
  ~PictureFolder() {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  const fs::path& dir() const { return dir_; }
  fs::path file() const { return dir_ / "BIG.PDT"; }

 private:
  fs::path dir_;
};

const PictureFolder& Folder() {
  static const PictureFolder folder;
  return folder;
}

double Seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

void SelectAndPaint(benchmark::State& state, int view) {
  const PictureFolder& folder = Folder();
  frm_main window({[](const QString&, int) { return 0; }, nullptr});
  window.show();
  window.Fol->SetPath(QString::fromStdString(folder.dir().string()));
  window.File->setCurrentRow(0);  // the first selection loads the picture
  if (window.Picture().Header.Width != 1920) {
    state.SkipWithError("the picture did not load");
    return;
  }
  window.ShowPicture(view);
  QApplication::processEvents();

  mdl_pdt::PdtHeader header;
  mdl_pdt::PixelBuffer pixels;
  double load_seconds = 0;
  double select_seconds = 0;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    benchmark::DoNotOptimize(mdl_pdt::LoadPdt(folder.file(), header, pixels));
    const auto t1 = Clock::now();
    window.SelectFile();
    const auto t2 = Clock::now();
    load_seconds += Seconds(t1 - t0);
    select_seconds += Seconds(t2 - t1);
    state.SetIterationTime(Seconds(t2 - t1));
    mdl_pdt::PixelBuffer().swap(pixels);  // like the window, start each load without a buffer
  }
  if (window.Picture().Header.Width != 1920) state.SkipWithError("the picture was lost");
  state.counters["x_LoadPdt"] = load_seconds > 0 ? select_seconds / load_seconds : 0;
  state.counters["LoadPdt_ms"] =
      benchmark::Counter(load_seconds * 1e3, benchmark::Counter::kAvgIterations);
}

void BM_SelectFileStandardView(benchmark::State& state) {
  SelectAndPaint(state, ViewStandard);
}
void BM_SelectFileActualSizeView(benchmark::State& state) {
  SelectAndPaint(state, ViewActualSize);
}

BENCHMARK(BM_SelectFileStandardView)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SelectFileActualSizeView)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
