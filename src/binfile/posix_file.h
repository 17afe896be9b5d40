// What the POSIX backend asks of the process around it, and the open that
// tests may tune.
//
// On a local file system a file opened for a rename is held with a write
// lease: another program's open or truncate waits, the system tells this
// process with SIGIO, and breaks the lease after its lease-break time. Each
// write is checked against half that time, counted from when the lease was
// last known whole, right before it and right after it: a write found
// finished late stops the run. A listing gives its lease up as soon as the
// open has found nobody else with the file open.
//
// Where kMappedStores says so, renamed names are stored through a shared
// mapping of the file, which can never make it longer: a store past its end
// raises SIGBUS.
//
// A process that opens a file here must first hand the kernel's SIGIO to
// noteLeaseBreak(): the notice's default is to end the process. Notices do
// not tell one file from another: with two files open, a notice for either
// counts for both (writing ends early, never late).
#ifndef VELKOR_BINFILE_POSIX_FILE_H_
#define VELKOR_BINFILE_POSIX_FILE_H_

#include <chrono>
#include <cstdint>
#include <memory>

#include "binfile/platform_file.h"

namespace velkor {

// True where renamed names are stored through the mapping: x86 with SSE2
// and 64-bit ARM. Elsewhere every write is a pwrite, which a file-size
// limit (ulimit -f) below the file's length refuses, and which a signal
// that ends the process can leave half made across a page.
extern const bool kMappedStores;

// SIGIO: another program waits for the leased file. SIGCONT: the process
// runs again after a stop of unknown length. Either, landing between the
// check that writing may go on and the store it allows, abandons that store
// (this call does not return), which is checked again.
void noteLeaseSignal(int signal);

//
// Both are made from a signal handler of the process, and are safe there.
// SIGIO sent by the system (si_code > 0): another program waits for a
// leased file.
void noteLeaseBreak();
// SIGBUS raised by the process's own access: if it was a store into the
// file's mapping, the store is abandoned (taken as a failed write) and this
// call does not return. Otherwise it returns.
void abandonMappedStore();

// openPlatformFile(path, willWrite) with the lease-break time taken as at
// most `breakTime`, and `windowSize` bytes of the file mapped at once (a
// multiple of the page size; 0: names are written with pwrite, never
// stored through a mapping).
std::unique_ptr<PlatformFile> openPosixFile(const char* path, bool willWrite,
                                            std::chrono::steady_clock::duration breakTime,
                                            uint64_t windowSize);

}  // namespace velkor

#endif  // VELKOR_BINFILE_POSIX_FILE_H_
