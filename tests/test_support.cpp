#include "test_support.h"

#include <cstdio>

#include "binfile/block_walk.h"

namespace velkor {

CapturedOutput::CapturedOutput() : file_(std::tmpfile()) {}
CapturedOutput::~CapturedOutput() {
  if (file_) std::fclose(file_);
}

std::string CapturedOutput::text() {
  std::fflush(file_);
  std::rewind(file_);
  std::string s;
  char chunk[4096];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, file_)) > 0) s.append(chunk, n);
  return s;
}

RunRequest listRequest() {
  RunRequest r;
  r.mode = RunMode::kList;
  r.binPath = kTestPath;
  return r;
}

RunRequest renameRequest(const std::string& oldName, const std::string& newName) {
  RunRequest r;
  r.mode = RunMode::kRename;
  r.binPath = kTestPath;
  r.oldRawName = oldName;
  r.newRawName = newName;
  return r;
}

RunOutcome runOnBytes(const std::vector<uint8_t>& bytes, const RunRequest& request,
                      int64_t failAt, size_t failingWriteAccepts) {
  RunOutcome outcome;
  outcome.state = std::make_shared<MemoryFileState>();
  outcome.state->data = bytes;
  outcome.state->failAt = failAt;
  outcome.state->failingWriteAccepts = failingWriteAccepts;
  CapturedOutput out;
  outcome.status =
      runTool(request, std::unique_ptr<PlatformFile>(new MemoryFile(outcome.state)), out.stream());
  outcome.output = out.text();
  return outcome;
}

}  // namespace velkor
