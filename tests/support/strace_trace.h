// Runs under strace, shared by the test programs that make system calls on
// the BIN file fail: whether strace can trace the program at all, and the
// calls a trace holds, each numbered as strace's inject counts them.
#ifndef VELKOR_TESTS_SUPPORT_STRACE_TRACE_H_
#define VELKOR_TESTS_SUPPORT_STRACE_TRACE_H_

#include <string>
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

}  // namespace velkor

#endif  // VELKOR_TESTS_SUPPORT_STRACE_TRACE_H_
