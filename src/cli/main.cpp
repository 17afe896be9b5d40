// The tool's entry: parse, run once, and end the process with the status.
#include <cstdio>
#include <memory>
#include <utility>

#include "binfile/block_walk.h"
#include "binfile/standard_streams.h"
#include "cli/arguments.h"
#include "cli/command_line.h"
#include "cli/process.h"

#if defined(_WIN32)
int wmain(int argc, wchar_t** argv) {  // mingw-w64's -municode: UTF-16 as typed
#else
int main(int argc, char** argv) {
#endif
  using velkor::StandardStream;
  velkor::prepareProcess();
  velkor::ProgramArguments args;
  velkor::readArguments(argc, argv, &args);
  // Whatever went to a standard output that is the BIN file itself would
  // land in the file: the run is refused, and every message goes to
  // standard error instead, or nowhere if that is the file too. Until the
  // file is open (and for a refusal that never opens it) the path is
  // compared; once it is open, the open file.
  const char* binPath = args.argv.size() > 1 ? args.argv[1] : nullptr;
  bool outputIsFile =
      binPath != nullptr && velkor::standardStreamIsFile(StandardStream::kOutput, binPath);
  bool errorIsFile =
      outputIsFile && velkor::standardStreamIsFile(StandardStream::kError, binPath);
  velkor::ParsedCommandLine parsed =
      velkor::parseCommandLine(static_cast<int>(args.argv.size()), args.argv.data(),
                               !outputIsFile ? stdout : errorIsFile ? nullptr : stderr);
  parsed.request.shownPath = args.shownPath;
  int status = parsed.status;
  if (parsed.accepted) {
    std::unique_ptr<velkor::PlatformFile> file = velkor::openPlatformFile(
        binPath, parsed.request.mode == velkor::RunMode::kRename);
    if (file) {
      outputIsFile = file->isStandardStream(StandardStream::kOutput);
      errorIsFile = outputIsFile && file->isStandardStream(StandardStream::kError);
    }
    if (outputIsFile) {
      velkor::printMessage(errorIsFile ? nullptr : stderr, "Unable to open %s\n",
                           args.shownPath.c_str());
      status = 1;
    } else {
      parsed.request.stopRequested = velkor::stopFlag();
      status = velkor::runTool(parsed.request, std::move(file), stdout);
    }
  }
  velkor::endProcess(status);
}
