#include "cli/command_line.h"

#include <cstring>

#include "binfile/bin_layout.h"
#include "binfile/standard_streams.h"

namespace velkor {

ParsedCommandLine parseCommandLine(int argc, const char* const* argv, std::FILE* out) {
  ParsedCommandLine parsed;
  parsed.status = 1;
  const int parameters = argc - 1;
  if (parameters != 1 && parameters != 3) {
    printMessage(out, "To view texture names, supply 1 parameter: BIN name\n");
    printMessage(out, "To rename, supply 3 parameters: BIN name, old RAW name, new RAW name\n");
    return parsed;
  }
  if (parameters == 3) {
    // A name the file's bytes cannot hold exactly would match or store another.
    for (int i : {2, 3}) {
      if (argv[i] == nullptr) {
        printMessage(out, "%s RAW name has characters that this system's code page lacks.\n",
                     i == 2 ? "Old" : "New");
        return parsed;
      }
    }
    if (std::strlen(argv[3]) > kMaxRawNameLength) {
      printMessage(out, "New RAW name is too long.\n");
      return parsed;
    }
    parsed.request.mode = RunMode::kRename;
    parsed.request.oldRawName = argv[2];
    parsed.request.newRawName = argv[3];
  }
  parsed.accepted = true;
  parsed.status = 0;
  parsed.request.binPath = argv[1];
  return parsed;
}

}  // namespace velkor
