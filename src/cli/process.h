// What the tool asks of the process around one run: signals or console
// control events, the standard streams, and the way the process ends. Each
// platform has its own (the build picks one); the walk sees only the flag.
#ifndef VELKOR_CLI_PROCESS_H_
#define VELKOR_CLI_PROCESS_H_

#include <atomic>

namespace velkor {

// Sets up standard output and the handlers that turn an interruption into
// a request to stop. Call once, first thing in main.
void prepareProcess();

// The flag the handlers set when the run must stop; non-zero once set.
const std::atomic<int>* stopFlag();

// Ends the process with `status`, or, if an interruption stopped the run,
// as that interruption ends a process, so that the caller sees it.
[[noreturn]] void endProcess(int status);

}  // namespace velkor

#endif  // VELKOR_CLI_PROCESS_H_
