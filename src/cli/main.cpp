// The tool's entry: parse, run once, and end the process with the status.
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "binfile/block_walk.h"
#include "cli/command_line.h"

int main(int argc, char** argv) {
#if defined(SIGPIPE)
  // Output to a pipe whose reader has gone fails like any other output,
  // instead of ending the process: a rename then still writes and flushes
  // every record, and the status tells of the failure.
  std::signal(SIGPIPE, SIG_IGN);
#endif
  // Standard output is not buffered by the C library: a listing gathers its
  // lines in a large buffer of its own and hands them over a buffer at a
  // time, which then go straight to the system; a second buffer here would
  // only copy every line once more. The few other messages go out whole,
  // one write each, in the order they are printed.
  std::setvbuf(stdout, nullptr, _IONBF, 0);

  velkor::ParsedCommandLine parsed = velkor::parseCommandLine(argc, argv, stdout);
  int status = parsed.accepted ? velkor::runTool(parsed.request, stdout) : parsed.status;
  // Output that could not be written is not a success, even though nothing
  // can be said about it on the stream that failed.
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) status = 1;
  std::exit(status);
}
