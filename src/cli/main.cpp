// The tool's entry: parse, run once, and end the process with the status.
#include <cstdio>

#include "binfile/block_walk.h"
#include "cli/command_line.h"
#include "cli/process.h"

int main(int argc, char** argv) {
  velkor::prepareProcess();
  velkor::ParsedCommandLine parsed = velkor::parseCommandLine(argc, argv, stdout);
  int status = parsed.status;
  if (parsed.accepted) {
    parsed.request.stopRequested = velkor::stopFlag();
    status = velkor::runTool(parsed.request, stdout);
  }
  // Output that could not be written is not a success, even though nothing
  // can be said about it on the stream that failed.
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) status = 1;
  velkor::endProcess(status);
}
