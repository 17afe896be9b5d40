// The command line: the number of parameters chooses the mode.
#ifndef VELKOR_CLI_COMMAND_LINE_H_
#define VELKOR_CLI_COMMAND_LINE_H_

#include <cstdio>

#include "binfile/run_request.h"

namespace velkor {

struct ParsedCommandLine {
  bool accepted = false;
  RunRequest request;  // when accepted
  int status = 0;      // when refused: the exit status
};

// Reads argv[1..argc-1]; argv[2] and argv[3] may be nullptr for a RAW name
// that has no exact form in the file's bytes, which is refused. A refusal
// has printed its message to `out`.
ParsedCommandLine parseCommandLine(int argc, const char* const* argv, std::FILE* out);

}  // namespace velkor

#endif  // VELKOR_CLI_COMMAND_LINE_H_
