// The one thing the tool needs from the operating system: an existing file,
// held for the run, read and written in place at given offsets (there is
// no file position). Each backend (POSIX, Win32) provides
// openPlatformFile(); the build picks exactly one.
#ifndef VELKOR_BINFILE_PLATFORM_FILE_H_
#define VELKOR_BINFILE_PLATFORM_FILE_H_

#include <cstddef>
#include <cstdint>
#include <memory>

#include "binfile/standard_streams.h"

namespace velkor {

class PlatformFile {
 public:
  PlatformFile() = default;
  PlatformFile(const PlatformFile&) = delete;
  PlatformFile& operator=(const PlatformFile&) = delete;

  // Closes the file if close() has not been called.
  virtual ~PlatformFile() = default;

  // Reads up to n bytes at `offset` into buf; *got receives the number read,
  // fewer than n only where the file ends first. Returns false on an error;
  // *got then counts the valid bytes read before it.
  // REQUIRES: the file is open; n bytes writable at buf.
  virtual bool readAt(uint64_t offset, uint8_t* buf, size_t n, size_t* got) = 0;

  // Writes the n bytes at buf at `offset` with one request to the system
  // (retried only if a signal came before anything was written); *written
  // receives how many it accepted. True only when all n were; a write cut
  // short is not continued. A write past the end makes the file longer: a
  // caller that must not grow it checks its length first.
  // REQUIRES: the file is open; n bytes readable at buf.
  virtual bool writeAt(uint64_t offset, const uint8_t* buf, size_t n, size_t* written) = 0;

  // Stores the file's current length in *size. Returns false on an error.
  // REQUIRES: the file is open.
  virtual bool size(uint64_t* size) = 0;

  // True while the system keeps every other program from changing the
  // file's length, so that a write within it need not check it first.
  // False when that is not known.
  // REQUIRES: the file is open.
  virtual bool lengthFixed() { return false; }

  // True once a write this file accepted was found finished too late for
  // the run to go on (another program may have been let in since): that
  // write's bytes are in the file, and no other write is made.
  // REQUIRES: the file is open.
  virtual bool wroteLate() { return false; }

  // True when the process's standard output or error (`stream`) is this
  // very file. False when either cannot be identified.
  // REQUIRES: the file is open.
  virtual bool isStandardStream(StandardStream) { return false; }

  // Forces the data written so far down to the storage device. Returns
  // false if the system cannot promise that it is there.
  // REQUIRES: the file is open.
  virtual bool flush() = 0;

  // Releases the file and whatever hold on it the open took. Returns false
  // on an error; the file is released all the same.
  // REQUIRES: the file is open; after it, no other call but the destructor.
  virtual bool close() = 0;
};

// Opens the existing regular file at `path` for reading and writing, never
// creating it, and holds it until it is closed as far as the system allows:
// on Windows nobody else can open it; on Linux nobody can flock or
// record-lock it, and under a write lease another program's open or
// truncate waits until it is closed or the lease is broken (posix_file.h).
// Returns nullptr if the file does not exist, cannot be opened for reading
// and writing, is not a regular file, is held by another opener, or (where
// a lease could be had) is open in another program. Never blocks. Without
// `willWrite` (a listing) nothing will be written, and whatever holds back
// other programs only for the writes' sake is let go at once.
std::unique_ptr<PlatformFile> openPlatformFile(const char* path, bool willWrite);

}  // namespace velkor

#endif  // VELKOR_BINFILE_PLATFORM_FILE_H_
