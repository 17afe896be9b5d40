// The POSIX backend of PlatformFile: a file descriptor, never one of the
// standard streams', held with an exclusive flock and an exclusive record
// lock for the whole run, and on Linux with a write lease as well.
// Transfers are positioned (pread/pwrite).
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

#include "binfile/platform_file.h"
#include "binfile/posix_file.h"
#include "binfile/standard_streams.h"

namespace velkor {
namespace {

// Set once another program has asked for a leased file.
volatile std::sig_atomic_t fileWanted = 0;

// The lowest descriptor the file may have: 0, 1 and 2 belong to the
// standard streams even when they are closed, so that nothing printed can
// ever land in the file.
constexpr int kFirstFileDescriptor = 3;

class PosixFile final : public PlatformFile {
 public:
  PosixFile(int fd, bool leased) : fd_(fd), leased_(leased) {}
  ~PosixFile() override {
    if (fd_ >= 0) close();
  }

  bool readAt(uint64_t offset, uint8_t* buf, size_t n, size_t* got) override {
    size_t done = 0;
    while (done < n) {
      ssize_t r = ::pread(fd_, buf + done, n - done, static_cast<off_t>(offset + done));
      if (r < 0) {
        if (errno == EINTR) continue;
        *got = done;
        return false;
      }
      if (r == 0) break;  // end of file
      done += static_cast<size_t>(r);
    }
    *got = done;
    return true;
  }

  bool writeAt(uint64_t offset, const uint8_t* buf, size_t n, size_t* written) override {
    ssize_t r;
    do {
      r = ::pwrite(fd_, buf, n, static_cast<off_t>(offset));
    } while (r < 0 && errno == EINTR);
    *written = r < 0 ? 0 : static_cast<size_t>(r);
    return r >= 0 && static_cast<size_t>(r) == n;
  }

  bool size(uint64_t* size) override {
    struct stat st;
    if (::fstat(fd_, &st) != 0) return false;
    *size = static_cast<uint64_t>(st.st_size);
    return true;
  }

  // Nobody else opens or truncates the file while the lease holds: once
  // another program has asked to, the lease may end before the run does.
  bool lengthFixed() override { return leased_ && fileWanted == 0; }

  bool flush() override {
    // The file's length never changes, so its data is all that must reach
    // the disk.
    while (::fdatasync(fd_) != 0) {
      if (errno != EINTR) return false;
    }
    return true;
  }

  bool close() override {
    // Closing the descriptor releases both locks and the lease; whoever
    // waits on the lease goes on then. A close interrupted by a signal has
    // still released the descriptor on Linux: never retry it.
    int r = ::close(fd_);
    fd_ = -1;
    return r == 0;
  }

 private:
  int fd_;
  const bool leased_;
};

// True when the failed lock call met another holder's lock. Any other
// failure (a file system without that kind of lock, say) does not keep the
// file from being used.
bool heldByAnother(int error) {
  return error == EWOULDBLOCK || error == EAGAIN || error == EACCES;
}

// Takes the two kinds of lock that other programs use on POSIX systems:
// flock, and a record lock over the whole file. The record lock belongs to
// the open file description, not to the process, so it does not meet the
// tool's own flock, and closing the descriptor releases both.
bool lockWholeFile(int fd) {
  int r;
  do {
    r = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (r != 0 && errno == EINTR);
  if (r != 0 && heldByAnother(errno)) return false;
  struct flock whole = {};
  whole.l_type = F_WRLCK;
  whole.l_whence = SEEK_SET;
  whole.l_start = 0;
  whole.l_len = 0;  // to the end of the file, however long it grows
  do {
    r = ::fcntl(fd, F_OFD_SETLK, &whole);
  } while (r != 0 && errno == EINTR);
  return r == 0 || !heldByAnother(errno);
}

// Takes a write lease on the file, where the system has leases: while it
// is held, another program's open or truncate of the file waits until the
// descriptor is closed (or until the system breaks the lease after its
// lease-break time, /proc/sys/fs/lease-break-time). The system tells of
// such a wait with SIGIO (see posix_file.h). Sets *leased if the lease was
// taken. Returns false only when another program has the file open; a
// lease that cannot be had for any other reason (the user does not own the
// file, a file system without leases) leaves the file held by the locks
// alone.
bool leaseWholeFile(int fd, bool* leased) {
  int r;
  do {
    r = ::fcntl(fd, F_SETLEASE, F_WRLCK);
  } while (r != 0 && errno == EINTR);
  *leased = r == 0;
  return r == 0 || errno != EAGAIN;
}

int openOrRetry(const char* path) {
  int fd;
  do {
    fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// Moves a descriptor that took the place of a closed standard stream above
// them. Returns the descriptor to use, or -1 (the original closed).
int aboveStandardStreams(int fd) {
  if (fd < 0 || fd >= kFirstFileDescriptor) return fd;
  int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, kFirstFileDescriptor);
  ::close(fd);
  return moved;
}

}  // namespace

std::unique_ptr<PlatformFile> openPlatformFile(const char* path) {
  // O_NONBLOCK keeps a FIFO from blocking the open, and an open that
  // another program's lease would hold back fails at once instead of
  // waiting; the file type is checked right after, and only regular files
  // are kept.
  int fd = aboveStandardStreams(openOrRetry(path));
  if (fd < 0) return nullptr;
  struct stat st;
  int flags;
  bool leased = false;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || (flags = ::fcntl(fd, F_GETFL)) < 0 ||
      ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0 || !lockWholeFile(fd) ||
      !leaseWholeFile(fd, &leased)) {
    ::close(fd);
    return nullptr;
  }
  return std::unique_ptr<PlatformFile>(new PosixFile(fd, leased));
}

void noteFileWanted() { fileWanted = 1; }

// The standard streams: descriptors, written to directly.

bool standardStreamIsFile(StandardStream stream, const char* path) {
  const int fd = stream == StandardStream::kOutput ? STDOUT_FILENO : STDERR_FILENO;
  struct stat file, output;
  return ::stat(path, &file) == 0 && ::fstat(fd, &output) == 0 &&
         file.st_dev == output.st_dev && file.st_ino == output.st_ino;
}

bool writeOutput(std::FILE* out, const char* bytes, size_t n) {
  const int fd = ::fileno(out);
  if (std::fflush(out) != 0) return false;
  size_t done = 0;
  while (done < n) {
    const ssize_t w = ::write(fd, bytes + done, n - done);
    if (w > 0) {
      done += static_cast<size_t>(w);
      continue;
    }
    // A write that takes nothing and gives no reason is a failure too.
    if (w == 0 || (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)) return false;
    if (errno == EINTR) continue;
    // Another program set the pipe not to block: wait until it takes more.
    struct pollfd writable = {fd, POLLOUT, 0};
    if (::poll(&writable, 1, -1) < 0 && errno != EINTR) return false;
  }
  return true;
}

}  // namespace velkor
