// The process around a run on POSIX systems.
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "cli/process.h"

namespace velkor {
namespace {

volatile std::sig_atomic_t stopSignal = 0;

}  // namespace

void prepareProcess() {
  // Output to a pipe whose reader has gone fails like any other output,
  // instead of ending the process: a rename then still writes and flushes
  // every record, and the status tells of the failure.
  std::signal(SIGPIPE, SIG_IGN);
  // Standard output is not buffered by the C library: a listing gathers its
  // lines in a large buffer of its own and hands them over a buffer at a
  // time, which then go straight to the system; a second buffer here would
  // only copy every line once more. The few other messages go out whole,
  // one write each, in the order they are printed.
  std::setvbuf(stdout, nullptr, _IONBF, 0);
}

const volatile std::sig_atomic_t* stopFlag() { return &stopSignal; }

void endProcess(int status) { std::exit(status); }

}  // namespace velkor
