// A whole run of the tool on arbitrary bytes, in both modes, checked against
// properties that must hold for any input: the fuzz target drives it, and the
// tests replay the seed inputs and past findings through it.
//
// An input is a short header that chooses the rename, where the file is,
// and what goes wrong, then the BIN file itself:
//
//   byte 0   old name length, modulo 20 (16 can match a full name field,
//            17 and more match nothing)
//   byte 1   new name length, modulo 16
//   byte 2   below 160: no fault; else the file fails its operation number
//            (byte 2 - 159)
//   byte 3   bits 0-5: bytes that a failing read or write still moves.
//            Bit 6: messages name the file by a path of 600 bytes. Bit 7:
//            the file is a real one, opened by the platform's backend.
//   byte 4   bit 7 set: a counted block is put into the block stream.
//            Bit 6 clear: at its start, ending (bits 0-5) bytes before the
//            end of the first read buffer, so that the rest lies across it.
//            Bit 6 set: after its first block, (bits 0-5) + 1 KiB long, so
//            that the blocks around it lie near or far apart.
//   byte 5   modulo 8, a knob of the fault wrapper, set by byte 6 (v) and
//            byte 7 (n): 1, operation n fails too, moving v % 64 bytes;
//            2, from operation n on, the length is said to be (int8_t)v
//            bytes more; 3, at operation n the run is asked to stop;
//            4, standard output fails. Else none.
//   then     the old name, the new name, the file
//
// A name ends early at a NUL byte, as a name from the command line would.
#ifndef VELKOR_FUZZ_WALK_CHECK_H_
#define VELKOR_FUZZ_WALK_CHECK_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace velkor {

constexpr size_t kFuzzHeaderSize = 8;
constexpr uint8_t kFuzzFirstFault = 160;
constexpr uint8_t kFuzzLongPath = 0x40;
constexpr uint8_t kFuzzRealFile = 0x80;
constexpr uint8_t kFuzzStretch = 0x80;
constexpr uint8_t kFuzzStretchLater = 0x40;
enum FuzzKnob : uint8_t { kFuzzThenFails = 1, kFuzzSizeSays, kFuzzStop, kFuzzOutputFails };

struct FuzzCase {
  std::string oldName;
  std::string newName;     // at most 15 bytes
  Fault fault;
  std::vector<uint8_t> file;  // as the tool sees it, stretched if asked
  bool realFile = false;
  std::string path = kTestPath;  // as messages name the file
};

// Reads an input as above. False if it is too short for the header.
bool decodeFuzzCase(const uint8_t* data, size_t size, FuzzCase* out);

// The header after bytes 0 and 1, byte by byte (each taken modulo 256).
struct FuzzHeader {
  int fault = 0, moves = 0, stretch = 0, knob = 0, value = 0, when = 0;
};

// Builds an input that decodes to the given names and file; names longer
// than the header can say are cut.
std::vector<uint8_t> encodeFuzzCase(const std::string& oldName, const std::string& newName,
                                    const std::vector<uint8_t>& file, const FuzzHeader& header = {});

// Lists (unless told not to) and renames the case's file, each on its own
// copy made by runOn (runOnBytes, runOnRealFile), and returns an empty
// string if every property held, or else a description of the first that
// did not.
using RunOnFile = RunOutcome (*)(const std::vector<uint8_t>& bytes, const RunRequest& request,
                                 const Fault& fault);
std::string checkRun(const FuzzCase& c, RunOnFile runOn, bool list = true);

// checkRun on the decoded input.
std::string checkWalkProperties(const uint8_t* data, size_t size);

}  // namespace velkor

#endif  // VELKOR_FUZZ_WALK_CHECK_H_
