// Pictures for the web app's responsiveness figures, drawn and encoded by the
// project's own tools: one 4000 × 4000 picture, and a folder of COUNT small
// ones in ten subfolders.
//   make_pictures OUTDIR COUNT
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "devtools/pdt_encoder.h"
#include "devtools/sample_art.h"

namespace {

bool Write(const std::filesystem::path& path, const pdtgen::Picture& pic) {
  const auto bytes = pdtgen::EncodePdt(pic.pixels, pic.width, pic.height);
  if (pdtgen::WriteFile(path, bytes)) return true;
  std::fprintf(stderr, "cannot write %s\n", path.string().c_str());
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_pictures OUTDIR COUNT\n");
    return 2;
  }
  const std::filesystem::path out = argv[1];
  const int count = std::atoi(argv[2]);
  std::error_code ec;
  for (int folder = 0; folder < 10; ++folder) {
    std::filesystem::create_directories(out / "many" / ("part" + std::to_string(folder)), ec);
  }
  if (ec) {
    std::fprintf(stderr, "cannot create folders in %s: %s\n", out.string().c_str(),
                 ec.message().c_str());
    return 1;
  }
  if (!Write(out / "big_4000x4000.pdt", pdtgen::DrawGameArt(4000, 4000, 7))) return 1;
  for (int i = 0; i < count; ++i) {
    const auto path =
        out / "many" / ("part" + std::to_string(i % 10)) / ("pic" + std::to_string(i) + ".pdt");
    if (!Write(path, pdtgen::DrawGameArt(320, 240, static_cast<std::uint32_t>(i)))) return 1;
  }
  return 0;
}
