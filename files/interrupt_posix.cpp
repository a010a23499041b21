// ExitOnInterrupt on POSIX systems: SIGINT and SIGTERM are blocked in every
// thread and taken by one thread of their own, which may then lock, print and
// remove files as any thread can (none of which a signal handler may do).
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <thread>
#include <utility>

#include "files/files.h"
#include "files/unfinished.h"

namespace files {

void ExitOnInterrupt(std::function<void(int exit_status)> report) {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  // Threads started later inherit the mask.
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  std::thread([signals, report = std::move(report)] {
    int signal = 0;
    while (sigwait(&signals, &signal) != 0) {
    }
    unfinished::RemoveAllAndStop();
    const int status = 128 + signal;
    if (report) report(status);
    ::_exit(status);
  }).detach();
}

}  // namespace files
