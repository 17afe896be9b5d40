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
// flag before main: 0 makes it split the command line into arguments
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
// Ctrl-Break, or the console's closing, logoff or shutdown, asks the walk to
// stop and keeps this thread here (the event handled, so the process is not
// ended under the run) until endProcess ends the process after the record,
// the flush and the count (or the system does, once its time for the last
// three is out). A second Ctrl-C or Ctrl-Break is left to the system's own
// handler, which ends the process at once.
BOOL WINAPI onConsoleControl(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT: case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT: case CTRL_LOGOFF_EVENT: case CTRL_SHUTDOWN_EVENT:
      break;
    default:
      return FALSE;
  }
  if (stopEvent.exchange(1) != 0 && (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT)) {
    return FALSE;
  }
  Sleep(INFINITE);
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
