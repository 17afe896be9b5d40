// On POSIX systems the parameters are bytes, taken as they come.
#include "cli/arguments.h"

namespace velkor {

void readArguments(int argc, char** argv, ProgramArguments* args) {
  args->argv.assign(argv, argv + argc);
  args->shownPath = argc > 1 ? argv[1] : "";
}

}  // namespace velkor
