#include "picture/loaded_picture.h"

#include <cctype>

namespace picture {

bool IsHeld(const LoadedPicture& picture) {
  return picture.Header.FileSize > 0;
}

void Reset(LoadedPicture& picture) {
  picture.Header = mdl_pdt::PdtHeader{};
  picture.FileHeader = bmp::BITMAPFILEHEADER{};
  picture.Info = bmp::BITMAPINFO{};
  picture.Pixels.clear();
}

void FillInfoHeader(LoadedPicture& picture) {
  bmp::FillInfoHeader(picture.Info, picture.Header.Width, picture.Header.Height);
}

mdl_pdt::PdtStatus LoadPicture(const std::filesystem::path& path, LoadedPicture& picture) {
  Reset(picture);
  const mdl_pdt::PdtStatus status = mdl_pdt::LoadPdtFile(path, picture.Header, picture.Pixels);
  if (status == mdl_pdt::PdtStatus::Ok) {
    FillInfoHeader(picture);
  } else {
    // The header may have been read before the failure.
    Reset(picture);
  }
  return status;
}

bmp::WriteStatus WriteBmp(const std::filesystem::path& path, LoadedPicture& picture,
                          files::Replace replace) {
  return bmp::WriteBmp(path, picture.FileHeader, picture.Info, picture.Pixels, replace);
}

bool HasPdtSuffix(std::string_view file_name) {
  if (file_name.size() < 3) return false;
  const std::string_view tail = file_name.substr(file_name.size() - 3);
  const char* expected = "pdt";
  for (std::size_t k = 0; k < 3; ++k) {
    if (std::tolower(static_cast<unsigned char>(tail[k])) != expected[k]) return false;
  }
  return true;
}

std::string ProposedName(std::string_view file_name) {
  if (HasPdtSuffix(file_name)) {
    return std::string(file_name.substr(0, file_name.size() - 3)) + "bmp";
  }
  return std::string(file_name) + ".bmp";
}

}  // namespace picture
