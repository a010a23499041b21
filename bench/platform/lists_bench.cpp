// How long the directory and file lists take to fill for a folder of 10,000
// files (2,000 of them PDT) and 50 subfolders, next to the plain scan of the
// same folder that any listing needs at least.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/lists.h"

namespace {

constexpr int kFiles = 10000;
constexpr int kPdtEvery = 5;  // every fifth file is a PDT file
constexpr int kFolders = 50;

QString g_folder;  // made in main(), removed when the run ends

void MakeBigFolder(const QString& path) {
  const std::filesystem::path root = QFile::encodeName(path).toStdString();
  for (int i = 0; i < kFiles; ++i) {
    const char* ext = i % kPdtEvery == 0 ? (i % 2 == 0 ? ".PDT" : ".pdt") : ".dat";
    std::ofstream(root / ("file" + std::to_string(i) + ext)) << 'x';
  }
  for (int i = 0; i < kFolders; ++i)
    std::filesystem::create_directory(root / ("folder" + std::to_string(i)));
}

const QString& BigFolder() {
  return g_folder;
}

void BM_PlainDirectoryScan(benchmark::State& state) {
  const std::filesystem::path root = QFile::encodeName(BigFolder()).toStdString();
  for (auto _ : state) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(root))
      names.push_back(entry.path().filename().string());
    benchmark::DoNotOptimize(names.data());
  }
}
BENCHMARK(BM_PlainDirectoryScan)->Unit(benchmark::kMillisecond);

void BM_FillFileList(benchmark::State& state) {
  platform::FileList files;
  files.resize(150, 210);
  files.show();
  for (auto _ : state) {
    files.SetPath(BigFolder());
    QApplication::processEvents();
    if (files.count() != kFiles / kPdtEvery) state.SkipWithError("wrong number of files");
  }
}
BENCHMARK(BM_FillFileList)->Unit(benchmark::kMillisecond);

void BM_FillDirList(benchmark::State& state) {
  platform::DirList dirs;
  dirs.resize(161, 132);
  dirs.show();
  for (auto _ : state) {
    // Step into a small subfolder and back, so every pass moves and refills.
    dirs.SetPath(BigFolder() + "/folder0");
    if (dirs.SetPath(BigFolder()) != platform::ListError::None)
      state.SkipWithError("cannot enter the folder");
    QApplication::processEvents();
  }
}
BENCHMARK(BM_FillDirList)->Unit(benchmark::kMillisecond);

// Both lists, as the window fills them when the user enters the folder.
void BM_FillBothLists(benchmark::State& state) {
  platform::DirList dirs;
  platform::FileList files;
  QObject::connect(&dirs, &platform::DirList::Change, &files, [&] { files.SetPath(dirs.Path()); });
  dirs.show();
  files.show();
  for (auto _ : state) {
    dirs.SetPath(BigFolder() + "/folder0");
    dirs.SetPath(BigFolder());
    QApplication::processEvents();
  }
}
BENCHMARK(BM_FillBothLists)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QTemporaryDir folder;
  if (!folder.isValid()) return 1;
  g_folder = folder.path();
  MakeBigFolder(g_folder);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
