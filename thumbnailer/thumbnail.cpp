#include "thumbnailer/thumbnail.h"

#include <new>

#include "pdt/mdl_pdt.h"
#include "png/png_writer.h"
#include "scale/scale.h"

namespace thumbnailer {

std::string WriteThumbnail(const std::filesystem::path& input, const std::filesystem::path& output,
                           std::int32_t max_side) {
  mdl_pdt::PdtHeader header;
  mdl_pdt::PixelBuffer pixels;
  const mdl_pdt::PdtStatus status = mdl_pdt::LoadPdtFile(input, header, pixels);
  if (status != mdl_pdt::PdtStatus::Ok) return mdl_pdt::Describe(status);

  const scale::Size full{header.Width, header.Height};
  const scale::Size size = scale::FitWithin(full, max_side);
  bmp::WriteStatus written = bmp::WriteStatus::Ok;
  if (size.width == full.width && size.height == full.height) {
    written = png::WritePng(output, full.width, full.height, pixels, png::Compression::Fast);
  } else {
    // Kept bottom row first, like the loaded picture, for the PNG writer.
    mdl_pdt::PixelBuffer small(static_cast<std::size_t>(size.width) *
                               static_cast<std::size_t>(size.height));
    std::uint32_t* last_row = small.data() + static_cast<std::size_t>(size.height - 1) *
                                                 static_cast<std::size_t>(size.width);
    scale::ScaleArea(pixels, full, last_row, -static_cast<std::ptrdiff_t>(size.width), size);
    written = png::WritePng(output, size.width, size.height, small, png::Compression::Fast);
  }
  if (written != bmp::WriteStatus::Ok) {
    return "cannot write " + output.string() + " (" + bmp::Describe(written) + ")";
  }
  return {};
}

}  // namespace thumbnailer
