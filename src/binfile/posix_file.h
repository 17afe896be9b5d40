// What the POSIX backend asks of the process around it. Each call below is
// made from a signal handler of the process, and is safe there.
//
// On a local file system a file opened by openPlatformFile() is held with a
// write lease: another program's open or truncate waits, this process gets
// SIGIO, and the system breaks the lease after /proc/sys/fs/lease-break-time.
// Writes end well before that, so the waiting program meets a finished file.
//
// Where kMappedStores says so, renamed names are stored through a shared
// mapping of the file, which can never make it longer: a store past its end
// raises SIGBUS.
#ifndef VELKOR_BINFILE_POSIX_FILE_H_
#define VELKOR_BINFILE_POSIX_FILE_H_

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

// SIGBUS raised by the process's own access: if it was a store into the
// file's mapping, the store is abandoned (taken as a failed write) and this
// call does not return. Otherwise it returns.
void abandonMappedStore();

}  // namespace velkor

#endif  // VELKOR_BINFILE_POSIX_FILE_H_
