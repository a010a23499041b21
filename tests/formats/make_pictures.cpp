// make_pictures DIR: writes the PDT pictures the format checks use, drawn by
// the project's own encoder, plus a damaged one and one that is no PDT file.
#include <cstdio>
#include <filesystem>
#include <string>

#include "devtools/pdt_encoder.h"
#include "devtools/sample_art.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_pictures DIR\n");
    return 2;
  }
  const std::filesystem::path dir = argv[1];
  std::filesystem::create_directories(dir);
  struct Item {
    const char* name;
    pdtgen::Picture picture;
  };
  const Item items[] = {{"art.pdt", pdtgen::DrawGameArt(640, 360, 11)},
                        {"small.PDT", pdtgen::DrawGameArt(40, 30, 12)},
                        {"tall.pdt", pdtgen::DrawGameArt(30, 200, 13)},
                        {"noise.pdt", pdtgen::DrawNoise(257, 131, 14)}};
  bool ok = true;
  for (const Item& item : items) {
    const auto bytes =
        pdtgen::EncodePdt(item.picture.pixels, item.picture.width, item.picture.height);
    ok = ok && pdtgen::WriteFile(dir / item.name, bytes);
    if (std::string(item.name) == "art.pdt") {
      // Cut in the middle of the pixel stream.
      const std::span<const std::uint8_t> half(bytes.data(), bytes.size() / 2);
      ok = ok && pdtgen::WriteFile(dir / "broken.pdt", half);
    }
  }
  const std::string text = "this is not a picture\n";
  ok = ok && pdtgen::WriteFile(
                 dir / "text.pdt",
                 std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
  return ok ? 0 : 1;
}
