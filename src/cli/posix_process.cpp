// The process around a run on POSIX systems.
#include <signal.h>
#include <sys/resource.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "binfile/posix_file.h"
#include "cli/process.h"

namespace velkor {
namespace {

// The first signal that stopped the run, or 0.
std::atomic<int> stopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "set from signal handlers");

// True for a signal whose default ends the process and that the run turns
// into a stop: all but those below.
bool stopsTheRun(int signal) {
  switch (signal) {
    case SIGKILL: case SIGSTOP:                                  // cannot be caught
    case SIGTSTP: case SIGTTIN: case SIGTTOU:                    // stop the process
    case SIGCHLD: case SIGURG: case SIGWINCH: case SIGCONT:      // ignored by default
    case SIGPIPE: case SIGXFSZ:                                  // handled on their own
      return false;
    default:
      return true;
  }
}

// A signal that the process's own faulty access raises.
bool isFault(int signal) {
  return signal == SIGSEGV || signal == SIGBUS || signal == SIGFPE || signal == SIGILL;
}

void setHandler(int signal, void (*handler)(int)) {
  struct sigaction action = {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
}

// Ends the process by `signal` at once, as if it were not handled, but
// without a core file: the run stopped cleanly, and a core file would be a
// file the user did not name.
void endBy(int signal) {
  const struct rlimit noCore = {0, 0};
  setrlimit(RLIMIT_CORE, &noCore);
  setHandler(signal, SIG_DFL);
  sigset_t unblocked;
  sigemptyset(&unblocked);
  sigaddset(&unblocked, signal);
  sigprocmask(SIG_UNBLOCK, &unblocked, nullptr);
  raise(signal);
}

// A signal is the system's own when si_code > 0; kill(), sigqueue() and
// the like give 0 or less.
extern "C" void onSignal(int signal, siginfo_t* info, void*) {
  if (signal == SIGIO && info->si_code > 0) {
    noteLeaseBreak();  // a lease's notice; a SIGIO that a program sends stops the run
    return;
  }
  if (isFault(signal) && info->si_code > 0) {
    // Raised by the process itself: a faulted store into the file's mapping
    // goes on as a failed write; any other fault ends the process as it would.
    if (signal == SIGBUS) abandonMappedStore();
    setHandler(signal, SIG_DFL);
    return;
  }
  int none = 0;
  // The first stops the walk once the record being written is finished.
  if (stopSignal.compare_exchange_strong(none, signal)) return;
  // Asked again while stopping: only the output (a pipe nobody reads, say)
  // can be keeping the process. This one ends it at once.
  endBy(signal);
}

}  // namespace

void prepareProcess() {
  // Output to a pipe whose reader has gone, and a write past the file-size
  // limit (ulimit -f: EFBIG), fail like any other instead of ending the
  // process mid-run: a rename still writes and flushes every record, and
  // the status tells of the failure.
  setHandler(SIGPIPE, SIG_IGN);
  setHandler(SIGXFSZ, SIG_IGN);
  // A stop runs with every other signal held back; the calls it interrupts
  // go on (every loop of the tool retries on EINTR anyway).
  struct sigaction stop = {};
  stop.sa_sigaction = onSignal;
  stop.sa_flags = SA_SIGINFO | SA_RESTART;
  sigfillset(&stop.sa_mask);
  // A fault may leave its handler by a jump (a store into the mapping that
  // faulted): it holds nothing back that the jump would keep held.
  struct sigaction fault = stop;
  fault.sa_flags |= SA_NODEFER;
  sigemptyset(&fault.sa_mask);
  sigset_t unblocked;
  sigemptyset(&unblocked);
  for (int signal = 1; signal < NSIG; ++signal) {
    if (!stopsTheRun(signal)) continue;
    // A signal ignored on entry stays ignored (nohup, a background job);
    // the lease's notice never is.
    struct sigaction current;
    if (signal != SIGIO && sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) {
      continue;
    }
    // Numbers the C library keeps for itself are refused here.
    sigaction(signal, isFault(signal) ? &fault : &stop, nullptr);
    if (signal == SIGIO || isFault(signal)) sigaddset(&unblocked, signal);
  }
  // The notice and the faults must arrive whatever mask the process was
  // started with.
  sigprocmask(SIG_UNBLOCK, &unblocked, nullptr);
  // Standard output is not buffered by the C library: a listing hands over
  // its lines a large buffer at a time, and every other message goes out
  // whole, one write each; a second buffer would only copy them once more.
  std::setvbuf(stdout, nullptr, _IONBF, 0);
}

const std::atomic<int>* stopFlag() { return &stopSignal; }

void endProcess(int status) {
  // Everything is written and reported: the process now ends by the signal
  // that stopped it, so that its caller sees an interruption.
  const int signal = stopSignal.load();
  if (signal != 0) endBy(signal);
  std::exit(status);
}

}  // namespace velkor
