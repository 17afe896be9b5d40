// libFuzzer entry: every input is a rename request, maybe a fault, and a BIN
// file (see walk_check.h). A broken property aborts with its description.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "walk_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string failure = velkor::checkWalkProperties(data, size);
  if (!failure.empty()) {
    std::fprintf(stderr, "property broken: %s\n", failure.c_str());
    std::abort();
  }
  return 0;
}
