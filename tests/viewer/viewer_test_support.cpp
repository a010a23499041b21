#include "tests/viewer/viewer_test_support.h"

#include <QFile>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

#include "devtools/pdt_encoder.h"

namespace viewer_test {

TestPicture Gradient(int width, int height) {
  TestPicture p{width, height, {}};
  p.pixels.reserve(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const auto r = static_cast<std::uint32_t>(x & 0xFF);
      const auto g = static_cast<std::uint32_t>(y & 0xFF);
      const auto b = static_cast<std::uint32_t>(((x >> 8) << 4 | (y >> 8)) ^ 0x5A);
      p.pixels.push_back(0xFF000000u | r << 16 | g << 8 | b);
    }
  }
  return p;
}

TestPicture Quadrants(int width, int height) {
  TestPicture p{width, height, {}};
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const bool right = x >= width / 2;
      const bool bottom = y >= height / 2;
      p.pixels.push_back(bottom ? (right ? kWhite : kBlue) : (right ? kGreen : kRed));
    }
  }
  return p;
}

QString QPath(const TempDir& dir) {
  return QFile::decodeName(dir.path().c_str());
}

void WritePdt(const std::filesystem::path& path, const TestPicture& picture) {
  WriteBytes(path, pdtgen::EncodePdt(picture.pixels, picture.width, picture.height));
}

platform::MessageBoxFn ScriptedMessages::Fn() {
  return [this](const QString& text, int style) {
    shown_.push_back({text, style});
    if (answers_.empty())
      return (style & 0x0F) == platform::kYesNo ? platform::kAnswerNo : platform::kAnswerOk;
    const int answer = answers_.front();
    answers_.pop_front();
    return answer;
  };
}

WindowHarness::WindowHarness(std::shared_ptr<const platform::VolumeSource> volumes) {
  frm_main::Services services;
  services.message_box = messages_.Fn();
  services.volumes = std::move(volumes);
  window_ = std::make_unique<frm_main>(std::move(services));
}

void WindowHarness::Browse() {
  if (window_->Fol->Path() != QPath(dir_)) window_->Fol->SetPath(QPath(dir_));
}

bool WindowHarness::Select(const QString& name) {
  Browse();
  platform::FileList& list = *window_->File;
  for (int row = 0; row < list.count(); ++row) {
    if (list.item(row)->text() == name) {
      list.clearSelection();
      list.setCurrentRow(row);
      return true;
    }
  }
  return false;
}

bool WindowHarness::LoadPicture(const QString& name, const TestPicture& picture) {
  WritePdt(dir_ / name.toStdString(), picture);
  window_->File->Refresh();
  return Select(name);
}

std::uint32_t InteriorPixel(const frm_main& window, int x, int y) {
  return window.Pic->Surface().pixel(x, y) | 0xFF000000u;
}

bool Near(std::uint32_t a, std::uint32_t b, int tolerance) {
  for (int shift = 0; shift < 24; shift += 8) {
    const int ca = static_cast<int>((a >> shift) & 0xFF);
    const int cb = static_cast<int>((b >> shift) & 0xFF);
    if (std::abs(ca - cb) > tolerance) return false;
  }
  return true;
}

ScopedCurrentDir::ScopedCurrentDir(const std::filesystem::path& path)
    : saved_(std::filesystem::current_path()) {
  std::filesystem::current_path(path);
}

ScopedCurrentDir::~ScopedCurrentDir() {
  std::error_code ec;
  std::filesystem::current_path(saved_, ec);
}

}  // namespace viewer_test
