// Pictures, folders and a scripted message box for the window tests.
#pragma once

#include <QImage>
#include <QString>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <ostream>
#include <utility>
#include <vector>

#include "platform/lists.h"
#include "platform/message_box.h"
#include "tests/support/scratch_files.h"
#include "viewer/frm_main.h"

// Readable QStrings in test failures.
inline void PrintTo(const QString& text, std::ostream* os) {
  *os << text.toStdString();
}

namespace viewer_test {

// A picture given top row first, as 0xFFRRGGBB.
struct TestPicture {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> pixels;
  std::uint32_t At(int x, int y) const {
    return pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                  static_cast<std::size_t>(x)];
  }
};

// Every pixel different from its neighbours: red = x, green = y, blue mixes both.
TestPicture Gradient(int width, int height);
// Four flat quadrants: red top-left, green top-right, blue bottom-left, white
// bottom-right.
TestPicture Quadrants(int width, int height);
inline constexpr std::uint32_t kRed = 0xFFFF0000;
inline constexpr std::uint32_t kGreen = 0xFF00FF00;
inline constexpr std::uint32_t kBlue = 0xFF0000FF;
inline constexpr std::uint32_t kWhite = 0xFFFFFFFF;

using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::WriteBytes;

// The folder's path as Qt text.
QString QPath(const TempDir& dir);

// Encodes `picture` with the project's encoder and writes it as a PDT file.
void WritePdt(const std::filesystem::path& path, const TestPicture& picture);

// Records every message box and answers from a script (No when it runs out).
class ScriptedMessages {
 public:
  struct Shown {
    QString text;
    int style = 0;
  };
  void Answer(int answer) { answers_.push_back(answer); }
  const std::vector<Shown>& shown() const { return shown_; }
  platform::MessageBoxFn Fn();

 private:
  std::vector<Shown> shown_;
  std::deque<int> answers_;
};

// Volumes for the drive list: a fixed set, some of them unavailable.
class FakeVolumes : public platform::VolumeSource {
 public:
  FakeVolumes(QStringList mounts, QStringList unavailable)
      : mounts_(std::move(mounts)), unavailable_(std::move(unavailable)) {}
  QStringList MountPoints() const override { return mounts_; }
  bool IsAvailable(const QString& mount_point) const override {
    return !unavailable_.contains(mount_point);
  }

 private:
  QStringList mounts_;
  QStringList unavailable_;
};

// A window with scripted message boxes, browsing a folder of test pictures.
class WindowHarness {
 public:
  explicit WindowHarness(std::shared_ptr<const platform::VolumeSource> volumes = nullptr);
  frm_main& w() { return *window_; }
  ScriptedMessages& messages() { return messages_; }
  TempDir& dir() { return dir_; }

  // Moves the directory list to the picture folder.
  void Browse();
  // Selects `name` in the file list as the user would; false if not listed.
  bool Select(const QString& name);
  // Writes a picture into the folder and selects it.
  bool LoadPicture(const QString& name, const TestPicture& picture);
  bool PictureHeld() { return window_->Picture().Header.FileSize > 0; }

 private:
  TempDir dir_;
  ScriptedMessages messages_;
  std::unique_ptr<frm_main> window_;
};

// Pixel of the picture box's interior as 0xFFRRGGBB.
std::uint32_t InteriorPixel(const frm_main& window, int x, int y);

// Whether two colours differ by at most `tolerance` in every channel.
bool Near(std::uint32_t a, std::uint32_t b, int tolerance);

// Restores the process's current directory when it goes out of scope.
class ScopedCurrentDir {
 public:
  explicit ScopedCurrentDir(const std::filesystem::path& path);
  ~ScopedCurrentDir();

 private:
  std::filesystem::path saved_;
};

}  // namespace viewer_test
