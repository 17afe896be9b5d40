// The tool's entry: parse, run once, and end the process with the status.
#include <cstdio>
#include <cstdlib>

#include "binfile/block_walk.h"
#include "cli/command_line.h"

int main(int argc, char** argv) {
  // Standard output is not buffered by the C library: a listing gathers its
  // lines in a large buffer of its own and hands them over a buffer at a
  // time, which then go straight to the system; a second buffer here would
  // only copy every line once more. The few other messages go out whole,
  // one write each, in the order they are printed.
  std::setvbuf(stdout, nullptr, _IONBF, 0);

  velkor::ParsedCommandLine parsed = velkor::parseCommandLine(argc, argv, stdout);
  int status = parsed.accepted ? velkor::runTool(parsed.request, stdout) : parsed.status;
  // A listing or count that could not be written is not a success, even
  // though nothing can be said about it on the stream that failed.
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) status = 1;
  std::exit(status);
}
