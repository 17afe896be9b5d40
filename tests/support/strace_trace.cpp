#include "support/strace_trace.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <iterator>
#include <regex>
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

TracedCall findCall(const std::string& trace, const std::string& which, int when) {
  std::vector<TracedCall> picked;
  for (const TracedCall& call : tracedCalls(trace)) {
    if (std::regex_search(call.line, std::regex(which))) picked.push_back(call);
  }
  if (when == -1) when = static_cast<int>(picked.size());
  return when >= 1 && when <= static_cast<int>(picked.size()) ? picked[when - 1] : TracedCall{};
}

std::string faultRowDiffers(const FaultRow& row, const std::string& bin, const TracedRun& run) {
  if (row.call.name.empty()) return "the run makes no such call";
  const TestFile file = makeTestFile();
  writeFile(bin, file.bytes);
  std::istringstream words(row.options.empty() ? "-e trace=" + row.call.name : row.options);
  std::vector<std::string> options(std::istream_iterator<std::string>(words), {});
  options.insert(options.end(), {"-e", "inject=" + row.call.name + ":" + row.inject + ":when=" +
                                           std::to_string(row.call.when)});
  const std::pair<int, std::string> got = run(row.rename, options);
  std::vector<uint8_t> expected = file.bytes;
  for (int i = 0; i < row.renamed && i < 5; ++i) std::memcpy(&expected[file.matchNames[i]], "stone", 6);
  std::string differs;
  if (got.first != row.status) differs += "status " + std::to_string(got.first) + "; ";
  if (got.second != row.out) differs += "output \"" + got.second + "\"; ";
  if (readFile(bin) != expected) differs += "the file's bytes afterwards";
  return differs;
}

}  // namespace velkor
