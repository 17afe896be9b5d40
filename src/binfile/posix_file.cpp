// The POSIX backend of PlatformFile: a file descriptor held with an
// exclusive flock for the whole run.
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "binfile/platform_file.h"

namespace velkor {
namespace {

class PosixFile final : public PlatformFile {
 public:
  explicit PosixFile(int fd) : fd_(fd) {}
  ~PosixFile() override {
    if (fd_ >= 0) close();
  }

  bool read(uint8_t* buf, size_t n, size_t* got) override {
    size_t done = 0;
    while (done < n) {
      ssize_t r = ::read(fd_, buf + done, n - done);
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

  bool seek(int64_t distance, uint64_t* position) override {
    off_t r = ::lseek(fd_, static_cast<off_t>(distance), SEEK_CUR);
    if (r < 0) return false;
    *position = static_cast<uint64_t>(r);
    return true;
  }

  bool write(const uint8_t* buf, size_t n, size_t* written) override {
    size_t done = 0;
    while (done < n) {
      ssize_t r = ::write(fd_, buf + done, n - done);
      if (r < 0) {
        if (errno == EINTR) continue;
        break;
      }
      if (r == 0) break;  // nothing accepted: give up rather than spin
      done += static_cast<size_t>(r);
    }
    *written = done;
    return done == n;
  }

  bool size(uint64_t* size) override {
    struct stat st;
    if (::fstat(fd_, &st) != 0) return false;
    *size = static_cast<uint64_t>(st.st_size);
    return true;
  }

  bool flush() override {
    while (::fsync(fd_) != 0) {
      if (errno != EINTR) return false;
    }
    return true;
  }

  bool close() override {
    // Closing the descriptor releases the lock. A close interrupted by a
    // signal has still released the descriptor on Linux: never retry it.
    int r = ::close(fd_);
    fd_ = -1;
    return r == 0;
  }

 private:
  int fd_;
};

}  // namespace

std::unique_ptr<PlatformFile> openPlatformFile(const char* path) {
  // O_NONBLOCK keeps a FIFO from blocking the open; the file type is checked
  // right after, and only regular files are kept.
  int fd;
  do {
    fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return nullptr;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    ::close(fd);
    return nullptr;
  }
  int r;
  do {
    r = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (r != 0 && errno == EINTR);
  if (r != 0) {  // someone else holds it
    ::close(fd);
    return nullptr;
  }
  return std::unique_ptr<PlatformFile>(new PosixFile(fd));
}

}  // namespace velkor
