#include "walk_check.h"

#include <algorithm>
#include <cstring>
#include <regex>

#include "binfile/bin_file.h"
#include "binfile/block_walk.h"
#include "binfile/run_request.h"
#include "support/test_files.h"
#include "support/test_support.h"

namespace velkor {
namespace {

// ---- The layout, walked a second time, as simply as possible ----------
//
// This is the yardstick for the tool's own walk: it works on the whole file
// in memory with plain offsets, and shares nothing with the walk but the
// layout itself.

// An offset into a file held in memory, or a count of its operations, as an
// index: the file holds it, so it fits a size_t on every machine.
size_t index(uint64_t offset) { return static_cast<size_t>(offset); }

uint32_t wordAt(const std::vector<uint8_t>& f, uint64_t at) {
  const uint8_t* p = &f[index(at)];
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// Items of a count word: signed, and nothing when zero or less.
uint64_t itemsOf(uint32_t countWord, uint64_t itemSize) {
  return countWord >= 1 && countWord <= 0x7fffffffu ? countWord * itemSize : 0;
}

enum class Stop { kNotBin, kEndBlock, kUnknown, kIncomplete, kWhole };

struct Reference {
  Stop stop = Stop::kNotBin;
  uint64_t stopOffset = 0;          // where the unknown or incomplete block starts
  uint32_t unknownType = 0;
  std::vector<uint64_t> nameFields;  // of every texture record present in full
};

// Offset at which the block stream begins, or nothing if the prologue and
// its items do not fit.
bool blockStreamStart(const std::vector<uint8_t>& f, uint64_t* start, uint64_t* perRecordItems) {
  if (f.size() < 20 || wordAt(f, 0) != 20) return false;
  *perRecordItems = itemsOf(wordAt(f, 16), 12);
  if (*perRecordItems > f.size() - 20) return false;
  *start = 20 + *perRecordItems;
  return true;
}

// The block whose type word is at `at`: kWhole with *next set past it, or
// why the walk stops there.
Stop blockAt(const std::vector<uint8_t>& f, uint64_t at, uint64_t perRecordItems, uint64_t* next) {
  const uint64_t size = f.size();
  auto fits = [&](uint64_t from, uint64_t n) { return from <= size && n <= size - from; };
  if (!fits(at, 4)) return Stop::kIncomplete;
  const uint32_t type = wordAt(f, at);
  const uint64_t body = at + 4;
  uint64_t length;
  switch (type) {
    case 0:
      return Stop::kEndBlock;
    case 3:
      length = perRecordItems + 8;
      break;
    case 13:
      length = 20;
      break;
    case 14: case 17: case 24: case 41: case 51: case 52: case 65: case 25:
      if (!fits(body, 20)) return Stop::kIncomplete;
      length = 20 + itemsOf(wordAt(f, body), type == 25 ? 4 : 12);
      break;
    default:
      return Stop::kUnknown;
  }
  if (!fits(body, length)) return Stop::kIncomplete;
  *next = body + length;
  return Stop::kWhole;
}

Reference walkReference(const std::vector<uint8_t>& f) {
  Reference ref;
  uint64_t at, perRecordItems;
  if (!blockStreamStart(f, &at, &perRecordItems)) return ref;
  for (;;) {
    uint64_t next;
    ref.stop = blockAt(f, at, perRecordItems, &next);
    ref.stopOffset = at;
    if (ref.stop == Stop::kUnknown) ref.unknownType = wordAt(f, at);
    if (ref.stop != Stop::kWhole) return ref;
    if (wordAt(f, at) == 13) ref.nameFields.push_back(at + 8);
    at = next;
  }
}

std::string nameAt(const std::vector<uint8_t>& f, uint64_t field) {
  const char* p = reinterpret_cast<const char*>(&f[index(field)]);
  return std::string(p, strnlen(p, 16));
}

std::string stopLine(const Reference& ref, const std::string& path) {
  switch (ref.stop) {
    case Stop::kNotBin:
      return path + " is not a valid BIN file\n";
    case Stop::kEndBlock:
    case Stop::kWhole:
      return "";
    case Stop::kUnknown:
      return velkor::stopLine(ref.stopOffset, ref.unknownType);
    case Stop::kIncomplete:
      return velkor::stopLine(ref.stopOffset);
  }
  return "";
}

int stopStatus(const Reference& ref) {
  return ref.stop == Stop::kEndBlock || ref.stop == Stop::kUnknown ? 0 : 1;
}

// ---- Running the tool --------------------------------------------------

struct Run : RunOutcome {
  bool disturbed;      // something the case asks to go wrong was reached
  bool mustReport;     // an operation failed that the run must say
  bool flushFailed;
  bool readAfterStop;  // after the prologue's and the stop's operation
  bool lengthLied;     // the walk may say a cut file ends elsewhere
};

Run runOnce(const FuzzCase& c, RunRequest request, RunOnFile runOn) {
  request.shownPath = c.path;
  Run run{runOn(c.file, request, c.fault), false, false, false, false, false};
  const Fault& f = c.fault;
  const std::string& kinds = run.state->kinds;
  auto reached = [&](int64_t n) { return n > 0 && n <= run.state->operations(); };
  for (const auto& [at, moves] : {std::pair(f.at, f.moves), std::pair(f.thenAt, f.thenMoves)}) {
    if (!reached(at)) continue;
    const char kind = kinds[index(at - 1)];
    run.disturbed = true;
    run.mustReport |= !f.outputFails && (kind != 'r' || moves == 0);
    run.flushFailed |= kind == 'f';
  }
  const size_t lied = kinds.find('z', static_cast<size_t>(std::max<int64_t>(f.sizeFrom, 1) - 1));
  run.lengthLied = f.sizeSaysMore != 0 && lied != std::string::npos;
  run.disturbed |= reached(f.stopAt) || f.outputFails || run.lengthLied;
  run.readAfterStop = reached(f.stopAt) && kinds.find('r', index(std::max<int64_t>(f.stopAt, 2))) != std::string::npos;
  return run;
}

std::string describe(const std::string& what, const Run& run) {
  return what + "\n  status " + std::to_string(run.status) + ", output:\n" + run.output;
}

// The lines a disturbed run may end its walk with, as a pattern (the dot
// of the path matches itself too).
std::string endings(const std::string& path) {
  return "Found (?:unknown [0-9a-f]+|incomplete) block at [0-9a-f]+, leaving\\n|Unable to read " + path +
         "\\n|" + path + " is not a valid BIN file\\n";
}

// ---- The properties ----------------------------------------------------

std::string checkList(const FuzzCase& c, const Reference& ref, RunOnFile runOn) {
  Run run = runOnce(c, listRequest(), runOn);

  if (run.state->closes != 1) return describe("list: the file was not closed exactly once", run);
  if (run.state->data != c.file) return describe("list: the file changed", run);
  if (run.state->writes() != 0 || run.state->flushes != 0)
    return describe("list: the file was written or flushed", run);
  if (run.readAfterStop) return describe("list: read on after the stop", run);

  // The lines of the textures, in order; only whole lines may be printed.
  std::vector<std::string> lines;
  std::string expected;
  for (uint64_t field : ref.nameFields) expected += lines.emplace_back("Found texture: " + nameAt(c.file, field) + "\n");
  expected += stopLine(ref, c.path);

  if (!run.disturbed) {
    if (run.output != expected) return describe("list: expected\n" + expected, run);
    if (run.status != stopStatus(ref)) return describe("list: wrong status", run);
    return "";
  }

  // Something went wrong: the file's textures in order, then at most one
  // line on how the walk ended; a failed read, if it must be said, last.
  const std::string& out = run.output;
  size_t at = 0;
  for (size_t i = 0; i < lines.size() && out.compare(at, lines[i].size(), lines[i]) == 0; ++i)
    at += lines[i].size();
  const std::string tail = out.substr(at);
  if (!std::regex_match(tail, std::regex("(" + endings(c.path) + ")?")))
    return describe("list: before the failure, not the file's textures in order", run);
  if (c.fault.outputFails && !out.empty()) return describe("list: printed to a failed output", run);
  if (run.mustReport && tail != "Unable to read " + c.path + "\n")
    return describe("list: a failed read is not the last line", run);
  if (tail.compare(0, 6, "Found ") == 0 && tail != stopLine(ref, c.path) && !run.lengthLied)
    return describe("list: stopped at a block where the file has none", run);
  if (run.status == 0 && (out != expected || stopStatus(ref) != 0))
    return describe("list: status 0 without the whole listing", run);
  return "";
}

std::string checkRename(const FuzzCase& c, const Reference& ref, RunOnFile runOn) {
  Run run = runOnce(c, renameRequest(c.oldName, c.newName), runOn);

  // The file as a clean run leaves it, and where it may differ.
  std::vector<uint8_t> expected = c.file;
  std::vector<uint64_t> matches;
  for (uint64_t field : ref.nameFields) {
    if (nameAt(c.file, field) != c.oldName) continue;
    matches.push_back(field);
    std::memcpy(&expected[index(field)], c.newName.data(), c.newName.size());
    expected[index(field) + c.newName.size()] = 0;
  }

  const std::vector<uint8_t>& data = run.state->data;
  if (run.state->closes != 1) return describe("rename: the file was not closed exactly once", run);
  if (run.readAfterStop) return describe("rename: read on after the stop", run);
  // Every write is the whole name field of one matching texture, where it
  // lies, once, in file order, or the repair of one that the system cut
  // short: the part it took, put back right after with the bytes that were
  // there, in writes that each go on where the system cut the last one.
  // Nothing else is ever written. The file then holds the new record where a
  // write succeeded, and where one failed, the bytes it still passed on, put
  // back by the repair.
  const std::vector<WriteRequest>& log = run.state->writeLog;
  std::vector<bool> repairs(log.size());
  for (size_t i = 1, cut = 0; i < log.size(); ++i) {
    const WriteRequest &w = log[i], &last = log[i - 1], &c0 = log[cut];
    const uint64_t end = w.offset + w.length;
    repairs[i] = i - 1 == cut ? w.offset == c0.offset && w.length <= c0.length
                              : w.offset > last.offset && end == last.offset + last.length;
    if (!repairs[i]) cut = i;
  }
  uint64_t goodWrites = 0;
  std::vector<uint8_t> written = c.file;
  size_t next = 0;
  for (size_t i = 0; i < log.size(); ++i) {
    const WriteRequest& w = log[i];
    if (repairs[i]) {
      std::memcpy(&written[index(w.offset)], &c.file[index(w.offset)], w.passed);
      continue;
    }
    while (next < matches.size() && matches[next] < w.offset) ++next;
    if (next == matches.size() || matches[next] != w.offset || w.length != kRawNameFieldSize)
      return describe("rename: a write of " + std::to_string(w.length) + " bytes at " +
                      std::to_string(w.offset) + " is not one matching name field", run);
    std::memcpy(&written[index(w.offset)], &expected[index(w.offset)], w.passed);
    goodWrites += w.ok;
    ++next;
  }
  if (data.size() != c.file.size()) return describe("rename: the file's length changed", run);
  const size_t differs = std::mismatch(data.begin(), data.end(), written.begin()).first - data.begin();
  if (differs != data.size())
    return describe("rename: byte " + std::to_string(differs) + " is not as the writes left it", run);
  // Whatever reached the file is flushed, once, unless the flush itself
  // failed; nothing is flushed if nothing reached it.
  if (run.state->writtenSinceFlush && !run.flushFailed)
    return describe("rename: bytes written were never flushed", run);
  const bool reached = std::any_of(log.begin(), log.end(), [](const WriteRequest& w) { return w.passed > 0; });
  if (run.state->flushes != reached) return describe("rename: flushed other than once after writing", run);

  std::string clean = stopLine(ref, c.path);
  if (ref.stop != Stop::kNotBin) clean += "Renamed " + std::to_string(matches.size()) + " blocks\n";
  if (!run.disturbed) {
    if (run.output != clean) return describe("rename: expected\n" + clean, run);
    if (run.status != stopStatus(ref)) return describe("rename: wrong status", run);
    if (data != expected) return describe("rename: the file is not renamed as expected", run);
    return "";
  }

  // Something went wrong: the walk's own stop line or the failure, maybe a
  // failed write or flush, and the count unless the walk never began.
  const std::string unableToWrite = "Unable to write " + c.path + "\n";  // a newline matches itself
  const std::regex shape("(" + endings(c.path) + "|" + unableToWrite + ")?(" + unableToWrite +
                         ")?(Renamed (0|[1-9][0-9]*) blocks\\n)?");
  std::smatch m;
  if (!std::regex_match(run.output, m, shape) || (m[2].matched && m[1] == unableToWrite))
    return describe("rename: unexpected lines", run);
  if (c.fault.outputFails && !run.output.empty()) return describe("rename: printed to a failed output", run);
  if (run.mustReport && (run.status != 1 || run.output.find("Unable to ") == std::string::npos))
    return describe("rename: a fault went unreported", run);
  const std::string first = m[1].str();
  if (first.compare(0, 6, "Found ") == 0 && first != stopLine(ref, c.path) && !run.lengthLied)
    return describe("rename: stopped at a block where the file has none", run);
  if (!m[3].matched && !c.fault.outputFails) {
    // Only a failure before the walk began leaves no count, and no write.
    const bool early =
        first == "Unable to read " + c.path + "\n" || first == c.path + " is not a valid BIN file\n";
    return early && !m[2].matched && data == c.file ? ""
                                                      : describe("rename: no count after the walk began", run);
  }
  // Every name is wholly old or wholly new, even one whose write was cut
  // short, and the count is that of the writes that succeeded.
  for (uint64_t field : matches) {
    const bool renamed = std::memcmp(&data[index(field)], &expected[index(field)], 16) == 0;
    if (!renamed && std::memcmp(&data[index(field)], &c.file[index(field)], 16) != 0)
      return describe("rename: a name is half renamed", run);
  }
  if (m[3].matched && std::stoull(m[4].str()) != goodWrites)
    return describe("rename: the count is not that of the records written", run);
  if (run.status == 0 && (run.output != clean || data != expected))
    return describe("rename: status 0 after a failure", run);
  return "";
}

// Puts a counted block into the block stream. At its start, the block is
// long enough that what follows begins `low` bytes before the end of the
// first read buffer. After its first block, the block is (low + 1) KiB long,
// so that renames before and after it lie near or far apart.
void stretch(std::vector<uint8_t>* file, uint64_t low, bool afterFirstBlock) {
  uint64_t start, perRecordItems;
  if (!blockStreamStart(*file, &start, &perRecordItems)) return;
  uint64_t items;
  if (afterFirstBlock) {
    if (blockAt(*file, start, perRecordItems, &start) != Stop::kWhole) return;
    items = (low + 1) * 1024 / 12;
  } else {
    const uint64_t end = BinFile::kBufferSize - low;
    if (start + 24 > end) return;
    items = (end - start - 24) / 12;
  }
  std::vector<uint8_t> block;
  BinWriter(&block).word(24).word(static_cast<uint32_t>(items));
  block.resize(index(24 + items * 12), 0xee);
  file->insert(file->begin() + static_cast<std::ptrdiff_t>(start), block.begin(), block.end());
}

std::string takeName(const uint8_t** p, size_t* left, size_t length) {
  length = std::min(length, *left);
  std::string s(reinterpret_cast<const char*>(*p), length);
  *p += length;
  *left -= length;
  return s.substr(0, s.find('\0'));
}

}  // namespace

bool decodeFuzzCase(const uint8_t* data, size_t size, FuzzCase* out) {
  if (size < kFuzzHeaderSize) return false;
  const uint8_t* p = data + kFuzzHeaderSize;
  size_t left = size - kFuzzHeaderSize;
  out->oldName = takeName(&p, &left, data[0] % 20);
  out->newName = takeName(&p, &left, data[1] % 16);
  Fault& f = out->fault;
  f.at = data[2] >= kFuzzFirstFault ? data[2] - kFuzzFirstFault + 1 : 0;
  f.moves = data[3] % 64;
  out->path = data[3] & kFuzzLongPath ? std::string(594, 'p') + "/t.bin" : kTestPath;
  out->realFile = data[3] & kFuzzRealFile;
  const uint8_t value = data[6], when = data[7];
  switch (data[5] % 8) {
    case kFuzzThenFails: f.thenAt = when, f.thenMoves = value % 64; break;
    case kFuzzSizeSays: f.sizeSaysMore = static_cast<int8_t>(value), f.sizeFrom = when; break;
    case kFuzzStop: f.stopAt = when; break;
    case kFuzzOutputFails: f.outputFails = true; break;
  }
  out->file.assign(p, p + left);
  if (data[4] & kFuzzStretch) stretch(&out->file, data[4] & 63, data[4] & kFuzzStretchLater);
  return true;
}

std::vector<uint8_t> encodeFuzzCase(const std::string& oldName, const std::string& newName,
                                    const std::vector<uint8_t>& file, const FuzzHeader& h) {
  const std::string o = oldName.substr(0, 19), n = newName.substr(0, 15);
  std::vector<uint8_t> in;
  for (size_t b : {o.size(), n.size()}) in.push_back(static_cast<uint8_t>(b));
  for (int b : {h.fault, h.moves, h.stretch, h.knob, h.value, h.when}) in.push_back(static_cast<uint8_t>(b));
  in.insert(in.end(), o.begin(), o.end());
  in.insert(in.end(), n.begin(), n.end());
  in.insert(in.end(), file.begin(), file.end());
  return in;
}

std::string checkRun(const FuzzCase& c, RunOnFile runOn, bool list) {
  const Reference ref = walkReference(c.file);
  std::string failure = list ? checkList(c, ref, runOn) : "";
  if (failure.empty()) failure = checkRename(c, ref, runOn);
  return failure;
}

std::string checkWalkProperties(const uint8_t* data, size_t size) {
  FuzzCase c;
  return decodeFuzzCase(data, size, &c) ? checkRun(c, c.realFile ? runOnRealFile : runOnBytes) : "";
}

}  // namespace velkor
