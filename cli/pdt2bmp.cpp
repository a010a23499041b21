// pdt2bmp: converts PDT pictures into 32-bit BMP files from the command line.
#include <unistd.h>

#include <cstdio>
#include <string_view>
#include <vector>

#include "cli/convert.h"

int main(int argc, char** argv) {
  std::vector<std::string_view> args;
  for (int k = 1; k < argc; ++k) args.emplace_back(argv[k]);
  return pdt2bmp::Run(args, stdout, stderr, isatty(fileno(stderr)) == 1);
}
