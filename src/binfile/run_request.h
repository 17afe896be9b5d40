// What one run of the tool is asked to do, as the command line chose it.
#ifndef VELKOR_BINFILE_RUN_REQUEST_H_
#define VELKOR_BINFILE_RUN_REQUEST_H_

#include <string>

namespace velkor {

enum class RunMode { kList, kRename };

// The strings are the parameters exactly as the process received them.
struct RunRequest {
  RunMode mode = RunMode::kList;
  std::string binPath;
  std::string oldRawName;  // Rename only
  std::string newRawName;  // Rename only; at most kMaxRawNameLength bytes
};

}  // namespace velkor

#endif  // VELKOR_BINFILE_RUN_REQUEST_H_
