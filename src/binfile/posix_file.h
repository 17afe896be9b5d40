// What the POSIX backend asks of the process around it. On Linux a file
// opened by openPlatformFile() is held with a write lease: when another
// program asks to open or truncate the file, that program waits, and the
// system sends this process SIGIO. The process must not let that signal
// end it, and its handler calls noteFileWanted(): the system will break
// the lease after its lease-break time, so from then on every write checks
// the file's length first.
#ifndef VELKOR_BINFILE_POSIX_FILE_H_
#define VELKOR_BINFILE_POSIX_FILE_H_

namespace velkor {

// Records that another program waits for a leased file. Safe to call from
// a signal handler.
void noteFileWanted();

}  // namespace velkor

#endif  // VELKOR_BINFILE_POSIX_FILE_H_
