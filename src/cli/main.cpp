// The tool's entry: parse, run once, and end the process with the status.
#include <cstdio>
#include <cstdlib>

#include "binfile/block_walk.h"
#include "cli/command_line.h"

int main(int argc, char** argv) {
  // One large buffer for all of standard output: a listing is many short
  // lines. Everything is written before exit.
  static char outputBuffer[64 * 1024];
  std::setvbuf(stdout, outputBuffer, _IOFBF, sizeof outputBuffer);

  velkor::ParsedCommandLine parsed = velkor::parseCommandLine(argc, argv, stdout);
  int status = parsed.accepted ? velkor::runTool(parsed.request, stdout) : parsed.status;
  // A listing or count that could not be written is not a success, even
  // though nothing can be said about it on the stream that failed.
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) status = 1;
  std::exit(status);
}
