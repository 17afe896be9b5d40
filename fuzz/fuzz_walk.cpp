// libFuzzer entry: every input is a rename request, where the file is, what
// goes wrong, and a BIN file (see walk_check.h). A broken property aborts
// with its description.
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "walk_check.h"

// A real file may be held with a write lease. Nobody opens it during a run,
// but the notice that someone did, SIGIO, would end the process.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::signal(SIGIO, SIG_IGN);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string failure = velkor::checkWalkProperties(data, size);
  if (!failure.empty()) {
    std::fprintf(stderr, "property broken: %s\n", failure.c_str());
    std::abort();
  }
  return 0;
}
