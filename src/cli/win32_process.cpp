// The process around a run on Windows: the console start-up, the standard
// streams and Ctrl-C.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "cli/process.h"

// Console start-up of the Windows program. The mingw-w64 runtime reads this
// flag before wmain: 0 makes it split the command line into arguments
// without expanding wildcards, so "*.bin" reaches the tool as typed.
extern "C" {
int _dowildcard = 0;
}

namespace velkor {
namespace {

// Set from the console control handler's own thread.
std::atomic<int> stopEvent{0};

// The exit code of a console program that Ctrl-C or Ctrl-Break ended; a
// stop for any console event ends the process with it.
constexpr UINT kInterruptedExitCode = 0xC000013Au;  // STATUS_CONTROL_C_EXIT

// Runs on a thread the system starts for the event. The first Ctrl-C or
// Ctrl-Break asks the walk to stop and returns: the process ends after the
// record, the flush and the count (endProcess). Another one while the run
// stops (only output that nobody takes can keep it so long) ends the
// process at once, as the system's handler would (wine's ends with 0). The
// console's closing asks the same stop and keeps this thread here, as the
// system ends the process once the handler returns (or its time is out).
BOOL WINAPI onConsoleControl(DWORD event) {
  const bool closing = event == CTRL_CLOSE_EVENT;
  if (!closing && event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  // Not ExitProcess, whose runtime exit could wait for the output's lock.
  if (stopEvent.exchange(1) && !closing) TerminateProcess(GetCurrentProcess(), kInterruptedExitCode);
  if (closing) Sleep(INFINITE);  // never returns
  return TRUE;
}

}  // namespace

void prepareProcess() {
  // Buffered, and emptied after each message (writeOutput): the runtime then
  // hands every message to the system whole, where an unbuffered stream
  // would go out a byte at a time.
  std::setvbuf(stdout, nullptr, _IOFBF, 64 * 1024);
  std::setvbuf(stderr, nullptr, _IOFBF, 4 * 1024);
  SetConsoleCtrlHandler(onConsoleControl, TRUE);
}

const std::atomic<int>* stopFlag() { return &stopEvent; }

void endProcess(int status) {
  if (stopEvent != 0) {
    // Every message was flushed as it was printed; the run is over.
    std::fflush(nullptr);
    ExitProcess(kInterruptedExitCode);
  }
  std::exit(status);
}

}  // namespace velkor
