// The tool's entry: parse, run once, and end the process with the status.
#include <cstdio>

#include "binfile/block_walk.h"
#include "binfile/message.h"
#include "binfile/standard_streams.h"
#include "cli/arguments.h"
#include "cli/command_line.h"
#include "cli/process.h"

int main(int argc, char** argv) {
  velkor::prepareProcess();
  velkor::ProgramArguments args;
  velkor::readArguments(argc, argv, &args);
  velkor::ParsedCommandLine parsed = velkor::parseCommandLine(
      static_cast<int>(args.argv.size()), args.argv.data(), stdout);
  parsed.request.shownPath = args.shownPath;
  int status = parsed.status;
  const char* binPath = parsed.request.binPath.c_str();
  if (parsed.accepted &&
      velkor::standardStreamIsFile(velkor::StandardStream::kOutput, binPath)) {
    // Whatever went to standard output would land in the file itself: the
    // one message that goes to standard error, unless that is the file too.
    if (!velkor::standardStreamIsFile(velkor::StandardStream::kError, binPath)) {
      velkor::printMessage(stderr, "Unable to open %s\n", args.shownPath.c_str());
    }
    status = 1;
  } else if (parsed.accepted) {
    // runTool's status counts output that could not be written as a failure.
    parsed.request.stopRequested = velkor::stopFlag();
    status = velkor::runTool(parsed.request, stdout);
  }
  velkor::endProcess(status);
}
