// Runs under strace, shared by the test programs that make system calls on
// the BIN file fail: whether strace can trace the program at all, and the
// calls a trace holds, each numbered as strace's inject counts them.
#ifndef VELKOR_TESTS_SUPPORT_STRACE_TRACE_H_
#define VELKOR_TESTS_SUPPORT_STRACE_TRACE_H_

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace velkor {

// Why strace cannot trace `command` (sh words) here, or "" if it can. The
// probe traces that very command, so that a program strace cannot follow
// (ptrace refused, an architecture it does not know) is found out.
std::string straceUnusable(const std::string& command);

struct TracedCall {
  std::string name;  // as strace names it: "pread64"
  std::string line;  // the whole line: arguments and result
  int when;          // which call of that name in its thread it is, from 1
};

// The calls in a trace written by `strace -f -o`, in their order; signals,
// exits and the resumed halves of calls are left out.
std::vector<TracedCall> tracedCalls(const std::string& trace);

// The call in `trace` whose line matches the regular expression `which`:
// the when-th of them (from 1), or the last (-1); its name is empty if
// there is none.
TracedCall findCall(const std::string& trace, const std::string& which, int when);

// A row of a fault table, for either program: a run on makeTestFile()'s
// bytes (renaming "abc" to "stone", or listing) with one call on the file
// failed, and the output, status and renamed names it must leave.
struct FaultRow {
  std::string name;
  TracedCall call;  // as a run without the fault numbers it
  std::string inject;  // error=ERRNO or retval=N
  bool rename;
  std::string out;
  int status;
  int renamed;
  std::string options = "";  // strace's -e options ("": trace the call alone)
};
// Runs the program under strace with these options, renaming or listing:
// its status and output.
using TracedRun = std::function<std::pair<int, std::string>(bool, const std::vector<std::string>&)>;
// How the row's run on `bin` differs from the row; "" when it does not.
std::string faultRowDiffers(const FaultRow& row, const std::string& bin, const TracedRun& run);

}  // namespace velkor

#endif  // VELKOR_TESTS_SUPPORT_STRACE_TRACE_H_
