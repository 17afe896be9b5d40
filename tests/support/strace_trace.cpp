#include "support/strace_trace.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>

#include "support/test_support.h"

namespace velkor {

std::string straceUnusable(const std::string& command) {
#ifndef __linux__
  return "system call fault injection needs Linux";
#else
  if (std::system("command -v strace >/dev/null 2>&1") != 0) return "strace is not installed";
  // The program's first exec, as strace saw it succeed, whatever its status.
  const ScratchDir dir;
  const std::string trace = dir.path("probe");
  if (std::system(("strace -f -qq -e trace=execve -o " + shellQuote(trace) + " " + command +
                   " </dev/null >/dev/null 2>&1")
                      .c_str()) == -1) {
    return "no shell to start strace";
  }
  for (const TracedCall& call : tracedCalls(readText(trace))) {
    if (call.name == "execve" && call.line.find(") = 0") != std::string::npos) return "";
  }
  return "strace cannot trace " + command + " here (ptrace not permitted?)";
#endif
}

std::vector<TracedCall> tracedCalls(const std::string& trace) {
  std::vector<TracedCall> calls;
  std::map<std::string, int> seen;  // thread and name: calls so far
  std::istringstream lines(trace);
  for (std::string line; std::getline(lines, line);) {
    // "PID name(args) = result", the PID only with -f.
    std::istringstream fields(line);
    std::string pid, call;
    fields >> pid;
    if (pid.find('(') != std::string::npos) std::swap(pid, call);  // no PID
    if (call.empty()) fields >> call;
    const size_t paren = call.find('(');
    if (paren == std::string::npos || paren == 0 || call[0] == '<' || call[0] == '-') continue;
    const std::string name = call.substr(0, paren);
    calls.push_back({name, line, ++seen[pid + " " + name]});
  }
  return calls;
}

}  // namespace velkor
