// pdt2bmp converting a folder of game-art pictures against /bin/cp copying the
// resulting BMP files: the shared benchmark pictures when they are there (16
// pictures, 1280×720 and 1920×1080, painted like real game art), otherwise 40
// drawn ones of the same sizes. After the runs it prints
// the ratio of the median times, pdt2bmp / cp. Both write to the system's
// temporary folder; each timed run starts after sync(), so neither command
// pays for flushing what the other one wrote.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "devtools/pdt_encoder.h"
#include "devtools/sample_art.h"

extern char** environ;

namespace {
namespace fs = std::filesystem;

constexpr int kPictures = 40;  // drawn when the shared pictures are missing

void RunOrThrow(const std::vector<std::string>& args) {
  std::vector<std::string> text = args;
  std::vector<char*> argv;
  for (std::string& arg : text) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
    throw std::runtime_error("cannot start " + args[0]);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    throw std::runtime_error(args[0] + " failed");
  }
}

// The picture folder, made once per process and removed at exit.
struct Workspace {
  fs::path root;
  fs::path pdt_dir;
  fs::path bmp_dir;   // pdt2bmp's output
  fs::path copy_dir;  // cp's output
  std::vector<std::string> bmp_files;

  Workspace() {
    std::string pattern = (fs::temp_directory_path() / "pdt2bmp-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    root = pattern;
    pdt_dir = root / "pdt";
    bmp_dir = root / "bmp";
    copy_dir = root / "copy";
    fs::create_directories(pdt_dir);
    fs::create_directories(copy_dir);
    const fs::path shared = QUILLON_BENCH_PICTURES;
    std::error_code ec;
    if (fs::is_directory(shared, ec)) {
      for (const fs::directory_entry& entry : fs::directory_iterator(shared)) {
        if (entry.path().extension() != ".pdt") continue;
        fs::copy_file(entry.path(), pdt_dir / entry.path().filename());
        bmp_files.push_back((bmp_dir / entry.path().stem()).string() + ".bmp");
      }
    } else {
      DrawPictures();
    }
    // The files cp copies, and a first run of each to settle the caches.
    RunOrThrow({PDT2BMP_PATH, "-o", bmp_dir.string(), "-f", "-q", pdt_dir.string()});
    RunOrThrow(CopyCommand());
  }

  void DrawPictures() {
    for (int k = 0; k < kPictures; ++k) {
      const bool large = k % 2 == 1;
      const pdtgen::Picture picture = pdtgen::DrawGameArt(large ? 1920 : 1280, large ? 1080 : 720,
                                                          static_cast<std::uint32_t>(k + 1));
      char name[32];
      std::snprintf(name, sizeof name, "CG%03d.PDT", k);
      if (!pdtgen::WriteFile(pdt_dir / name,
                             pdtgen::EncodePdt(picture.pixels, picture.width, picture.height))) {
        throw std::runtime_error("cannot write the pictures");
      }
      std::snprintf(name, sizeof name, "CG%03d.bmp", k);
      bmp_files.push_back((bmp_dir / name).string());
    }
  }

  ~Workspace() {
    std::error_code ec;
    fs::remove_all(root, ec);
  }

  std::vector<std::string> CopyCommand() const {
    std::vector<std::string> args{"/bin/cp"};
    args.insert(args.end(), bmp_files.begin(), bmp_files.end());
    args.push_back(copy_dir.string());
    return args;
  }
};

Workspace& Shared() {
  static Workspace workspace;
  return workspace;
}

// Each run starts with the previous run's data on disk, so that neither
// command pays for flushing what the other one wrote.
void TimedRuns(benchmark::State& state, const std::vector<std::string>& command) {
  for (auto _ : state) {
    state.PauseTiming();
    sync();
    state.ResumeTiming();
    RunOrThrow(command);
  }
}

void BM_Pdt2BmpFolder(benchmark::State& state) {
  Workspace& ws = Shared();
  const std::vector<std::string> command = {PDT2BMP_PATH, "-o", ws.bmp_dir.string(),
                                            "-f",         "-q", ws.pdt_dir.string()};
  TimedRuns(state, command);
}
BENCHMARK(BM_Pdt2BmpFolder)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(7);

void BM_CpBmpFiles(benchmark::State& state) {
  Workspace& ws = Shared();
  const std::vector<std::string> command = ws.CopyCommand();
  TimedRuns(state, command);
}
BENCHMARK(BM_CpBmpFiles)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(7);

// Prints as usual and keeps the median real time of each benchmark.
class MedianReporter : public benchmark::ConsoleReporter {
 public:
  MedianReporter() : ConsoleReporter(isatty(STDOUT_FILENO) == 1 ? OO_Defaults : OO_Tabular) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
        medians_[run.run_name.function_name] = run.GetAdjustedRealTime();
      }
    }
  }
  const std::map<std::string, double>& medians() const { return medians_; }

 private:
  std::map<std::string, double> medians_;
};

}  // namespace

int main(int argc, char** argv) {
  // The repetitions of the two commands take turns by default, so that a
  // change in the machine's load falls on both; a flag given later wins.
  std::string interleave = "--benchmark_enable_random_interleaving=true";
  std::vector<char*> args{argv[0], interleave.data()};
  args.insert(args.end(), argv + 1, argv + argc);
  int count = static_cast<int>(args.size());
  args.push_back(nullptr);
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
  MedianReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  const auto& medians = reporter.medians();
  const auto convert = medians.find("BM_Pdt2BmpFolder");
  const auto copy = medians.find("BM_CpBmpFiles");
  if (convert != medians.end() && copy != medians.end() && copy->second > 0) {
    std::printf("pdt2bmp / cp (median real time): %.2f\n", convert->second / copy->second);
  }
  return 0;
}
