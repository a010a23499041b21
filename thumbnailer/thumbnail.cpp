#include "thumbnailer/thumbnail.h"

#include <optional>

#include "files/files.h"
#include "names/names.h"
#include "pdt/mdl_pdt.h"
#include "png/png_writer.h"
#include "scale/scale.h"

namespace thumbnailer {
namespace {

// Scales the rows as they are decoded, so that the full-size picture is never
// held: only the thumbnail, kept bottom row first like a loaded picture, for
// the PNG writer.
class ThumbnailRows : public mdl_pdt::RowSink {
 public:
  explicit ThumbnailRows(std::int32_t max_side) : max_side_(max_side) {}

  void Begin(const mdl_pdt::PdtHeader& header) override {
    const scale::Size full{header.Width, header.Height};
    size_ = scale::FitWithin(full, max_side_);
    const auto width = static_cast<std::size_t>(size_.width);
    pixels_.resize(width * static_cast<std::size_t>(size_.height));
    std::uint32_t* last_row = pixels_.data() + pixels_.size() - width;
    scaler_.emplace(full, size_, last_row, -static_cast<std::ptrdiff_t>(width));
  }
  void Row(std::size_t /*index*/, std::span<const std::uint32_t> pixels) override {
    scaler_->AddRow(pixels);
  }

  scale::Size size() const { return size_; }
  const mdl_pdt::PixelBuffer& pixels() const { return pixels_; }

 private:
  std::int32_t max_side_;
  scale::Size size_;
  mdl_pdt::PixelBuffer pixels_;
  std::optional<scale::RowScaler> scaler_;
};

}  // namespace

std::string WriteThumbnail(const std::filesystem::path& input, const std::filesystem::path& output,
                           std::int32_t max_side) {
  // Opening a pipe or a device would wait for a writer or read without end.
  const files::Status input_status = files::CheckRegularFile(input);
  if (input_status == files::Status::IsFolder || input_status == files::Status::NotRegular) {
    return files::Describe(input_status);
  }
  mdl_pdt::PdtHeader header;
  ThumbnailRows thumbnail(max_side);
  const mdl_pdt::PdtStatus status = mdl_pdt::DecodeRowsFile(input, header, thumbnail);
  if (status != mdl_pdt::PdtStatus::Ok) return mdl_pdt::Describe(status);
  const files::Status written =
      png::WritePng(output, thumbnail.size().width, thumbnail.size().height, thumbnail.pixels(),
                    png::Compression::Fast);
  if (written != files::Status::Ok) {
    return "cannot write " + names::ReadablePath(output) + " (" + files::Describe(written) + ")";
  }
  return {};
}

}  // namespace thumbnailer
