// The tool's entry: parse, run once, and end the process with the status.
#include <cstdio>

#include "binfile/block_walk.h"
#include "binfile/standard_streams.h"
#include "cli/arguments.h"
#include "cli/command_line.h"
#include "cli/process.h"

int main(int argc, char** argv) {
  velkor::prepareProcess();
  velkor::ProgramArguments args;
  velkor::readArguments(argc, argv, &args);
  // Where messages go is settled before any is printed. Whatever went to a
  // standard output that is the BIN file itself would land in the file: the
  // run is refused, and every message goes to standard error instead, or
  // nowhere if that is the file too.
  const char* binPath = args.argv.size() > 1 ? args.argv[1] : nullptr;
  using velkor::StandardStream;
  const bool outputIsFile =
      binPath != nullptr && velkor::standardStreamIsFile(StandardStream::kOutput, binPath);
  const bool errorIsFile =
      outputIsFile && velkor::standardStreamIsFile(StandardStream::kError, binPath);
  std::FILE* out = !outputIsFile ? stdout : errorIsFile ? nullptr : stderr;
  velkor::ParsedCommandLine parsed = velkor::parseCommandLine(
      static_cast<int>(args.argv.size()), args.argv.data(), out);
  parsed.request.shownPath = args.shownPath;
  int status = parsed.status;
  if (parsed.accepted && outputIsFile) {
    velkor::printMessage(out, "Unable to open %s\n", args.shownPath.c_str());
    status = 1;
  } else if (parsed.accepted) {
    parsed.request.stopRequested = velkor::stopFlag();
    status = velkor::runTool(parsed.request, stdout);
  }
  velkor::endProcess(status);
}
