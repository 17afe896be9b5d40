// The process around a run on POSIX systems.
#include <signal.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "binfile/posix_file.h"
#include "cli/process.h"

namespace velkor {
namespace {

// The signals that end a process by default and that a user or a program
// sends to interrupt one: each stops the run at the next block instead.
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// The first stop signal that came, or 0.
std::atomic<int> stopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "set from signal handlers");

void setDefault(int signal) {
  struct sigaction action = {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
}

extern "C" void onStopSignal(int signal) {
  if (stopSignal == 0) {
    // The record being written is finished, and the walk stops before the
    // next one.
    stopSignal = signal;
    return;
  }
  // Asked again while stopping: the walk has written its last record, and
  // only the output (a pipe nobody reads, say) can be keeping the process.
  // This one ends it at once, as if it were not handled; it is delivered
  // when the handler returns.
  setDefault(signal);
  raise(signal);
}

extern "C" void onFileWanted(int) { noteFileWanted(); }

void ignore(int signal) {
  struct sigaction action = {};
  action.sa_handler = SIG_IGN;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
}

}  // namespace

void prepareProcess() {
  // Output to a pipe whose reader has gone fails like any other output,
  // instead of ending the process: a rename then still writes and flushes
  // every record, and the status tells of the failure.
  ignore(SIGPIPE);
  // A write past the file-size limit (ulimit -f) fails with EFBIG like any
  // other failed write, instead of ending the process mid-run.
  ignore(SIGXFSZ);
  // The system's notice that another program waits to open or truncate
  // the file while the run holds it: that program waits until the run
  // ends, or until the system breaks the hold.
  struct sigaction wanted = {};
  wanted.sa_handler = onFileWanted;
  wanted.sa_flags = SA_RESTART;
  sigemptyset(&wanted.sa_mask);
  sigaction(SIGIO, &wanted, nullptr);
  struct sigaction stop = {};
  stop.sa_handler = onStopSignal;
  // Each handler runs with the other stop signals held back, and the calls
  // it interrupts go on (every loop of the tool retries on EINTR anyway).
  stop.sa_flags = SA_RESTART;
  sigemptyset(&stop.sa_mask);
  for (int signal : kStopSignals) sigaddset(&stop.sa_mask, signal);
  for (int signal : kStopSignals) {
    // A signal ignored on entry stays ignored (nohup, a background job).
    struct sigaction current;
    if (sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
    sigaction(signal, &stop, nullptr);
  }
  // Standard output is not buffered by the C library: a listing gathers its
  // lines in a large buffer of its own and hands them over a buffer at a
  // time, which then go straight to the system; a second buffer here would
  // only copy every line once more. The few other messages go out whole,
  // one write each, in the order they are printed.
  std::setvbuf(stdout, nullptr, _IONBF, 0);
}

const std::atomic<int>* stopFlag() { return &stopSignal; }

void endProcess(int status) {
  const int signal = stopSignal;
  if (signal != 0) {
    // Everything is written and reported: the process now ends by the
    // signal that stopped it, so that its caller sees an interruption.
    setDefault(signal);
    sigset_t unblocked;
    sigemptyset(&unblocked);
    sigaddset(&unblocked, signal);
    sigprocmask(SIG_UNBLOCK, &unblocked, nullptr);
    raise(signal);
  }
  std::exit(status);
}

}  // namespace velkor
