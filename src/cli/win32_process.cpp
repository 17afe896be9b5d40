// The process around a run on Windows: the console start-up and the
// standard streams.
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "cli/process.h"

// Console start-up of the Windows program. The mingw-w64 runtime reads this
// flag before main: 0 makes it split the command line into arguments
// without expanding wildcards, so "*.bin" reaches the tool as typed.
extern "C" {
int _dowildcard = 0;
}

namespace velkor {
namespace {

volatile std::sig_atomic_t stopEvent = 0;

}  // namespace

void prepareProcess() {
  // Buffered, and emptied after each message (writeOutput): the runtime then
  // hands every message to the system whole, where an unbuffered stream
  // would go out a byte at a time.
  std::setvbuf(stdout, nullptr, _IOFBF, 64 * 1024);
}

const volatile std::sig_atomic_t* stopFlag() { return &stopEvent; }

void endProcess(int status) { std::exit(status); }

}  // namespace velkor
