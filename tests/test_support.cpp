#include "test_support.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

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
  outcome.state = std::make_shared<FileState>();
  outcome.state->data = bytes;
  outcome.state->failAt = failAt;
  outcome.state->failingWriteAccepts = failingWriteAccepts;
  CapturedOutput out;
  outcome.status =
      runTool(request, faultyMemoryFile(outcome.state), out.stream());
  outcome.output = out.text();
  return outcome;
}

ScratchDir::ScratchDir() {
  namespace fs = std::filesystem;
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    fs::path p = fs::temp_directory_path() / ("velkor-test-" + std::to_string(random()));
    if (fs::create_directory(p)) {
      dir_ = p.string();
      return;
    }
  }
  throw std::runtime_error("no scratch folder");
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::permissions(dir_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(dir_, ignored);
}

void writeWholeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::vector<uint8_t> readWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

RunOutcome runOnRealFile(const std::vector<uint8_t>& bytes, const RunRequest& request,
                         int64_t failAt, size_t failingWriteAccepts) {
  ScratchDir dir;
  const std::string path = dir.path("t.bin");
  writeWholeFile(path, bytes);
  RunOutcome outcome;
  outcome.state = std::make_shared<FileState>();
  outcome.state->failAt = failAt;
  outcome.state->failingWriteAccepts = failingWriteAccepts;
  std::unique_ptr<PlatformFile> real = openPlatformFile(path.c_str());
  if (!real) throw std::runtime_error("cannot open " + path);
  CapturedOutput out;
  // The request's path is only printed: the messages read as for kTestPath.
  outcome.status = runTool(
      request, std::unique_ptr<PlatformFile>(new FaultyFile(std::move(real), outcome.state)),
      out.stream());
  outcome.output = out.text();
  outcome.state->data = readWholeFile(path);
  return outcome;
}

}  // namespace velkor
