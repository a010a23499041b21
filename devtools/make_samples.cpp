// quillon-samples OUTDIR: writes the sample pictures as PDT files into OUTDIR.
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "devtools/pdt_encoder.h"
#include "devtools/sample_art.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTDIR\n", argc > 0 ? argv[0] : "quillon-samples");
    return 2;
  }
  const std::filesystem::path out_dir = argv[1];
  std::error_code ec;
  std::filesystem::create_directories(out_dir, ec);
  if (ec) {
    std::fprintf(stderr, "cannot create %s: %s\n", out_dir.string().c_str(), ec.message().c_str());
    return 1;
  }
  int written = 0;
  for (const pdtgen::SamplePicture& sample : pdtgen::SamplePictures()) {
    const auto& pic = sample.picture;
    const auto bytes = pdtgen::EncodePdt(pic.pixels, pic.width, pic.height);
    const auto path = out_dir / sample.file_name;
    if (!pdtgen::WriteFile(path, bytes)) {
      std::fprintf(stderr, "cannot write %s\n", path.string().c_str());
      return 1;
    }
    ++written;
  }
  std::printf("%d sample pictures in %s\n", written, out_dir.string().c_str());
  return 0;
}
