// Runs a program in a folder and collects its exit status and output, and
// gives each test a fresh folder to work in.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/scratch_files.h"

namespace tooltest {

struct RunResult {
  int status = -1;  // exit status, or -1 when the program did not exit normally
  std::string out;
  std::string err;
};

// Runs `program` with `args` in `cwd`. With `err_on_terminal` stderr is a
// pseudo-terminal instead of a file.
RunResult RunProgram(const std::filesystem::path& program, const std::vector<std::string>& args,
                     const std::filesystem::path& cwd, bool err_on_terminal = false);

using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::WriteBytes;

// The file names (relative paths with '/') of every regular file under `root`, sorted.
std::vector<std::string> ListFiles(const std::filesystem::path& root);

}  // namespace tooltest
