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

FaultyFile::~FaultyFile() {
  if (open_) close();
}

bool FaultyFile::fails(char kind) {
  if (kinds_) kinds_->push_back(kind);
  return ++state_->operations == state_->failAt;
}

bool FaultyFile::read(uint8_t* buf, size_t n, size_t* got) {
  *got = 0;
  if (fails('r')) return false;
  bool ok = real_->read(buf, n, got);
  state_->bytesRead += *got;
  return ok;
}

bool FaultyFile::seek(int64_t distance, uint64_t* position) {
  if (fails('s')) return false;
  return real_->seek(distance, position);
}

bool FaultyFile::write(const uint8_t* buf, size_t n, size_t* written) {
  ++state_->writes;
  const bool failing = fails('w');
  bool ok = real_->write(buf, failing ? std::min(n, state_->failingWriteAccepts) : n, written);
  if (*written > 0) state_->writtenSinceFlush = true;
  return ok && !failing;
}

bool FaultyFile::size(uint64_t* size) {
  if (fails('z')) return false;
  return real_->size(size);
}

bool FaultyFile::flush() {
  ++state_->flushes;
  if (fails('f')) return false;
  if (!real_->flush()) return false;
  state_->writtenSinceFlush = false;
  return true;
}

bool FaultyFile::close() {
  open_ = false;
  ++state_->closes;
  return real_->close();
}

RunOutcome runOnRealFile(const std::vector<uint8_t>& bytes, const RunRequest& request,
                         int64_t failAt, size_t failingWriteAccepts, std::string* kinds) {
  ScratchDir dir;
  const std::string path = dir.path("t.bin");
  writeWholeFile(path, bytes);
  RunOutcome outcome;
  outcome.state = std::make_shared<MemoryFileState>();
  outcome.state->failAt = failAt;
  outcome.state->failingWriteAccepts = failingWriteAccepts;
  std::unique_ptr<PlatformFile> real = openPlatformFile(path.c_str());
  if (!real) throw std::runtime_error("cannot open " + path);
  CapturedOutput out;
  // The request's path is only printed: the messages read as for kTestPath.
  outcome.status = runTool(
      request, std::unique_ptr<PlatformFile>(new FaultyFile(std::move(real), outcome.state, kinds)),
      out.stream());
  outcome.output = out.text();
  outcome.state->data = readWholeFile(path);
  return outcome;
}

}  // namespace velkor
