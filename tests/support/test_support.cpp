#include "support/test_support.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

#include "binfile/block_walk.h"

namespace velkor {

std::vector<uint8_t> readFile(const std::string& path) {
  const std::string text = readText(path);
  return std::vector<uint8_t>(text.begin(), text.end());
}

std::string readText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::string shellQuote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

std::string stopLine(uint64_t offset, int64_t unknownType) {
  char line[80];
  if (unknownType < 0) std::snprintf(line, sizeof line, "Found incomplete block at %" PRIx64 ", leaving\n", offset);
  else std::snprintf(line, sizeof line, "Found unknown %" PRIx64 " block at %" PRIx64 ", leaving\n", unknownType, offset);
  return line;
}

std::vector<uint8_t> binOf(const std::function<void(BinWriter&)>& fill) {
  std::vector<uint8_t> bytes;
  BinWriter w(&bytes);
  fill(w);
  return bytes;
}

ScratchDir::ScratchDir() {
  namespace fs = std::filesystem;
  std::random_device random;
  const fs::path top = fs::canonical(fs::temp_directory_path());
  for (int attempt = 0; attempt < 100; ++attempt) {
    fs::path p = top / ("velkor-test-" + std::to_string(random()));
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

CapturedOutput::CapturedOutput() : file_(std::tmpfile()) {
  if (!file_) std::abort();
}

CapturedOutput::~CapturedOutput() { std::fclose(file_); }

std::string CapturedOutput::text() {
  std::fflush(file_);
  std::string s;
  std::rewind(file_);
  char chunk[4096];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, file_)) > 0) s.append(chunk, n);
  return s;
}

OtherProcess::OtherProcess(const std::function<bool(int)>& act) {
  int word[2], release[2];
  if (pipe2(word, O_CLOEXEC) != 0 || pipe2(release, O_CLOEXEC) != 0) return;
  std::fflush(nullptr);
  pid_ = fork();
  if (pid_ == 0) {
    close(word[0]);
    close(release[1]);
    const bool ok = act(word[1]);
    close(word[1]);
    char ignored;
    while (read(release[0], &ignored, 1) > 0) {
    }
    _exit(ok ? 0 : 1);
  }
  close(word[1]);
  close(release[0]);
  from_ = word[0];
  release_ = release[1];
}

OtherProcess::~OtherProcess() {
  if (from_ >= 0) close(from_);
  if (release_ >= 0) close(release_);
  if (pid_ > 0) waitpid(pid_, nullptr, 0);
}

std::string OtherProcess::word() {
  std::string got;
  char chunk[512];
  for (ssize_t n; from_ >= 0 && (n = read(from_, chunk, sizeof chunk)) > 0;) got.append(chunk, n);
  return got;
}

pid_t startProgram(std::vector<std::string> argv, const std::string& dir, const std::string& out,
                   const std::string& err, int outFd, const std::function<bool()>& setup) {
  std::vector<char*> args;
  for (std::string& a : argv) args.push_back(&a[0]);
  args.push_back(nullptr);
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid != 0) return pid;
  const int in = open("/dev/null", O_RDONLY), outFile = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644),
            errFile = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (in < 0 || outFile < 0 || errFile < 0 || dup2(in, 0) < 0 || dup2(outFd < 0 ? outFile : outFd, 1) < 0 ||
      dup2(errFile, 2) < 0 || chdir(dir.c_str()) != 0 || (setup && !setup())) {
    _exit(99);
  }
  execvp(args[0], args.data());
  _exit(98);
}

int exitStatus(pid_t pid) {
  int w = 0;
  if (waitpid(pid, &w, 0) != pid) return -1000;
  return WIFEXITED(w) ? WEXITSTATUS(w) : WIFSIGNALED(w) ? -WTERMSIG(w) : -1000;
}

bool leaseOnFilePossible(const std::string& path) {
  int fd = open(path.c_str(), O_RDWR);
  bool ok = fd >= 0 && fcntl(fd, F_SETLEASE, F_WRLCK) == 0;
  if (fd >= 0) close(fd);  // and with it the lease
  return ok;
}

RunRequest listRequest() {
  RunRequest r;
  r.mode = RunMode::kList;
  r.binPath = kTestPath;
  return r;
}

RunRequest renameRequest(const std::string& oldName, const std::string& newName) {
  RunRequest r = listRequest();
  r.mode = RunMode::kRename;
  r.oldRawName = oldName;
  r.newRawName = newName;
  return r;
}

namespace {

RunOutcome runOn(std::unique_ptr<PlatformFile> inner, const RunRequest& request, const Fault& fault,
                 std::shared_ptr<FileState> state) {
  RunOutcome outcome;
  outcome.state = std::move(state);
  outcome.state->fault = fault;
  RunRequest asked = request;
  if (fault.stopAt > 0) asked.stopRequested = &outcome.state->stopAsked;
  CapturedOutput out;
  using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;
  File full(fault.outputFails ? std::fopen("/dev/full", "w") : nullptr, std::fclose);
  outcome.status = runTool(
      asked, std::unique_ptr<PlatformFile>(new FaultyFile(std::move(inner), outcome.state)),
      full ? full.get() : out.stream());
  outcome.output = out.text();
  return outcome;
}

}  // namespace

RunOutcome runOnBytes(const std::vector<uint8_t>& bytes, const RunRequest& request,
                      const Fault& fault) {
  auto state = std::make_shared<FileState>();
  state->data = bytes;
  // The memory file shares the state's bytes, and with them the state.
  std::unique_ptr<PlatformFile> memory(
      new MemoryFile(std::shared_ptr<std::vector<uint8_t>>(state, &state->data)));
  return runOn(std::move(memory), request, fault, state);
}

RunOutcome runOnRealFile(const std::vector<uint8_t>& bytes, const RunRequest& request,
                         const Fault& fault) {
  ScratchDir dir;
  const std::string path = dir.path("t.bin");
  writeFile(path, bytes);
  std::unique_ptr<PlatformFile> real = openPlatformFile(path.c_str(), request.mode == RunMode::kRename);
  if (!real) throw std::runtime_error("cannot open " + path);
  // The request's path is only printed: the messages read as for kTestPath.
  RunOutcome outcome = runOn(std::move(real), request, fault, std::make_shared<FileState>());
  outcome.state->data = readFile(path);
  return outcome;
}

TestFile makeTestFile() {
  TestFile f;
  BinWriter w(&f.bytes);
  w.prologue(0);
  for (const std::string name : {"abc", "wall", "abc", "", "abc", "abc", "door", "abc"}) {
    // "": the counted block of 144,024 bytes. A name field follows the type
    // word and the lead word.
    if (name == "abc") f.matchNames.push_back(static_cast<size_t>(w.offset() + 8));
    name.empty() ? w.counted(41, 12000) : w.texture(name);
  }
  w.endBlock();
  return f;
}

}  // namespace velkor
