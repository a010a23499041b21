// The picture the window holds, and the rules about it that the window and
// pdt2bmp share: when a picture is held, how it is reset, loaded and saved, and
// which names it is loaded from and proposed under.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "bmp/bmp.h"
#include "pdt/mdl_pdt.h"

namespace picture {

// A decoded picture with the BMP records that describe it. Everything starts
// zeroed or empty.
struct LoadedPicture {
  mdl_pdt::PdtHeader Header;
  bmp::BITMAPFILEHEADER FileHeader;
  bmp::BITMAPINFO Info;
  mdl_pdt::PixelBuffer Pixels;
};

// A picture is held when its header's FileSize is above 0.
bool IsHeld(const LoadedPicture& picture);

// Back to the starting state: nothing held, every record zeroed. The pixel
// buffer is emptied but keeps its memory for the next load.
void Reset(LoadedPicture& picture);

// Fills Info's header from the picture's Width and Height.
void FillInfoHeader(LoadedPicture& picture);

// Resets the picture, loads the PDT file into it and fills Info's header. On
// failure the picture is reset and holds nothing.
mdl_pdt::PdtStatus LoadPicture(const std::filesystem::path& path, LoadedPicture& picture);

// Fills FileHeader and writes the picture as a BMP file (see bmp::WriteBmp).
bmp::WriteStatus WriteBmp(const std::filesystem::path& path, LoadedPicture& picture,
                          files::Replace replace = files::Replace::Allowed);

// True when the file name ends in "pdt" without regard to case.
bool HasPdtSuffix(std::string_view file_name);

// The output name proposed for a PDT file name: the name without its last
// three characters, then "bmp" (EV001.PDT gives EV001.bmp). A name that does
// not end in "pdt" gets ".bmp" appended instead, so that the output can never
// be the input itself.
std::string ProposedName(std::string_view file_name);

}  // namespace picture
