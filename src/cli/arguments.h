// The parameters as the tool reads them, from the system's own form (bytes
// on POSIX, UTF-16 on Windows) into the form each place calls for: the BIN
// file's path as the file layer opens it, RAW names as the file stores them.
#ifndef VELKOR_CLI_ARGUMENTS_H_
#define VELKOR_CLI_ARGUMENTS_H_

#include <string>
#include <vector>

namespace velkor {

struct ProgramArguments {
  // argv[0..argc-1] for parseCommandLine. A RAW name that has no exact form
  // in the file's bytes is nullptr (never the path, never on POSIX).
  std::vector<const char*> argv;
  // The path as messages show it to a person; may only approximate it.
  // Empty when there is no path parameter.
  std::string shownPath;
  // What argv points into.
  std::vector<std::string> storage;
};

// Reads the process's parameters as main receives them: bytes on POSIX;
// on Windows the UTF-16 ones of wmain (mingw-w64's -municode), split by the
// runtime with no wildcard expanded. Each platform has its own.
// REQUIRES: called once, from main, before anything is printed.
void readArguments(int argc, char** argv, ProgramArguments* args);
void readArguments(int argc, wchar_t** argv, ProgramArguments* args);

}  // namespace velkor

#endif  // VELKOR_CLI_ARGUMENTS_H_
