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

// A program started in `cwd` that runs while the test watches it; killed and
// waited for when the test ends without waiting itself.
class StartedProgram {
 public:
  StartedProgram(const std::filesystem::path& program, const std::vector<std::string>& args,
                 const std::filesystem::path& cwd);
  ~StartedProgram();
  StartedProgram(const StartedProgram&) = delete;
  StartedProgram& operator=(const StartedProgram&) = delete;

  void Signal(int signal) const;
  RunResult Wait();

 private:
  std::filesystem::path capture_;
  int pid_ = -1;
};

using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::WriteBytes;

// The file names (relative paths with '/') of every regular file under `root`, sorted.
std::vector<std::string> ListFiles(const std::filesystem::path& root);

}  // namespace tooltest
