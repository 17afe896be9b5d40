// The one thing the tool needs from the operating system: an existing file,
// held for the run, that can be read, positioned and written in place.
//
// Each backend (POSIX, Win32) provides openPlatformFile(); the build picks
// exactly one. An in-memory file implements the same interface for tests.
#ifndef VELKOR_BINFILE_PLATFORM_FILE_H_
#define VELKOR_BINFILE_PLATFORM_FILE_H_

#include <cstddef>
#include <cstdint>
#include <memory>

namespace velkor {

class PlatformFile {
 public:
  PlatformFile() = default;
  PlatformFile(const PlatformFile&) = delete;
  PlatformFile& operator=(const PlatformFile&) = delete;

  // Closes the file if close() has not been called.
  virtual ~PlatformFile() = default;

  // Reads up to n bytes at the current position into buf and advances past
  // them; *got receives the number read. Fewer than n bytes are read only
  // when the file ends first. Returns false on an error (the position is then
  // unknown and *got may be less than n).
  // REQUIRES: the file is open; n bytes writable at buf.
  virtual bool read(uint8_t* buf, size_t n, size_t* got) = 0;

  // Moves the position by `distance` bytes (negative moves back) from the
  // current position and stores the new position in *position. Returns false
  // if the move fails; the position is then unknown.
  // REQUIRES: the file is open.
  virtual bool seek(int64_t distance, uint64_t* position) = 0;

  // Writes n bytes from buf at the current position and advances past them.
  // *written receives how many bytes the system accepted. Returns true only
  // when all n were accepted.
  // REQUIRES: the file is open; n bytes readable at buf.
  virtual bool write(const uint8_t* buf, size_t n, size_t* written) = 0;

  // Stores the file's current length in *size. Returns false on an error.
  // REQUIRES: the file is open.
  virtual bool size(uint64_t* size) = 0;

  // Forces what has been written down to the storage device. Returns false
  // if the system cannot promise that it is there.
  // REQUIRES: the file is open.
  virtual bool flush() = 0;

  // Releases the file and whatever hold on it the open took. Returns false
  // on an error; the file is released all the same.
  // REQUIRES: the file is open; after it, no other call but the destructor.
  virtual bool close() = 0;
};

// Opens the existing regular file at `path` for reading and writing, never
// creating it, and keeps other openers off it until it is closed. Returns
// nullptr if the file does not exist, cannot be opened for both reading and
// writing, is not a regular file, or is held by another opener. Never blocks
// waiting for another program.
std::unique_ptr<PlatformFile> openPlatformFile(const char* path);

}  // namespace velkor

#endif  // VELKOR_BINFILE_PLATFORM_FILE_H_
