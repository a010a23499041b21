#include "tests/tools/tool_runner.h"

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>

extern char** environ;

namespace tooltest {
namespace fs = std::filesystem;

namespace {

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Drain(int fd) {
  std::string text;
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) break;  // EIO once the other side of a terminal is closed
    text.append(buffer, static_cast<std::size_t>(n));
  }
  return text;
}

// Starts `program`; with a terminal, `master` gets its side of it.
pid_t Spawn(const fs::path& program, const std::vector<std::string>& args, const fs::path& cwd,
            const fs::path& capture, bool err_on_terminal, int& master) {
  const fs::path out_file = capture / "out";
  const fs::path err_file = capture / "err";

  int slave = -1;
  if (err_on_terminal && openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
    throw std::runtime_error("openpty failed");
  }

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  if (err_on_terminal) {
    posix_spawn_file_actions_adddup2(&actions, slave, 2);
    posix_spawn_file_actions_addclose(&actions, master);
  } else {
    posix_spawn_file_actions_addopen(&actions, 2, err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
  }
  posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());

  std::vector<std::string> argv_text{program.string()};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : argv_text) argv.push_back(arg.data());
  argv.push_back(nullptr);

  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) throw std::system_error(spawned, std::generic_category(), "posix_spawn");
  if (err_on_terminal) close(slave);
  return pid;
}

// The folder beside `cwd` that holds the captured output, so that it never
// shows up in `cwd`.
fs::path CaptureFolder(const fs::path& cwd) {
  fs::path capture = cwd.parent_path() / (cwd.filename().string() + ".capture");
  fs::create_directories(capture);
  return capture;
}

RunResult Finish(pid_t pid, const fs::path& capture, int master) {
  const fs::path out_file = capture / "out";
  const fs::path err_file = capture / "err";
  const bool err_on_terminal = master >= 0;
  RunResult result;
  if (err_on_terminal) {
    result.err = Drain(master);
    close(master);
  }
  int wait_status = 0;
  waitpid(pid, &wait_status, 0);
  if (WIFEXITED(wait_status)) result.status = WEXITSTATUS(wait_status);
  result.out = ReadText(out_file);
  if (!err_on_terminal) result.err = ReadText(err_file);
  fs::remove_all(capture);
  return result;
}

}  // namespace

RunResult RunProgram(const fs::path& program, const std::vector<std::string>& args,
                     const fs::path& cwd, bool err_on_terminal) {
  const fs::path capture = CaptureFolder(cwd);
  int master = -1;
  const pid_t pid = Spawn(program, args, cwd, capture, err_on_terminal, master);
  return Finish(pid, capture, master);
}

StartedProgram::StartedProgram(const fs::path& program, const std::vector<std::string>& args,
                               const fs::path& cwd)
    : capture_(CaptureFolder(cwd)) {
  int master = -1;
  pid_ = Spawn(program, args, cwd, capture_, false, master);
}

StartedProgram::~StartedProgram() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    Wait();
  }
}

void StartedProgram::Signal(int signal) const {
  if (pid_ > 0) kill(pid_, signal);
}

RunResult StartedProgram::Wait() {
  const pid_t pid = pid_;
  pid_ = -1;
  return Finish(pid, capture_, -1);
}

std::vector<std::string> ListFiles(const fs::path& root) {
  std::vector<std::string> names;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file()) {
      names.push_back(entry.path().lexically_relative(root).generic_string());
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace tooltest
