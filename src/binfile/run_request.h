// What one run of the tool is asked to do, as the command line chose it.
#ifndef VELKOR_BINFILE_RUN_REQUEST_H_
#define VELKOR_BINFILE_RUN_REQUEST_H_

#include <atomic>
#include <string>

namespace velkor {

enum class RunMode { kList, kRename };

// The strings are the parameters exactly as the process received them.
struct RunRequest {
  RunMode mode = RunMode::kList;
  std::string binPath;
  std::string oldRawName;  // Rename only
  std::string newRawName;  // Rename only; at most kMaxRawNameLength bytes
  // The path as messages show it, for a person to read. Empty: binPath.
  std::string shownPath;
  // Set (non-zero) by the process, from a signal handler or a console
  // control handler's thread, when the run must stop: the record being
  // written is finished, the walk stops before the next one, and the run
  // ends as after a failure. Null: never.
  const std::atomic<int>* stopRequested = nullptr;
};

}  // namespace velkor

#endif  // VELKOR_BINFILE_RUN_REQUEST_H_
