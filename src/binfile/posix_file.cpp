// The POSIX backend of PlatformFile: a descriptor above the standard
// streams', held for the run with an exclusive flock and record lock, and
// on a local file system a write lease (posix_file.h). Reads are preads; a
// write of 16 bytes is one store through a shared mapping where the file
// system allows it, any other write a pwrite.
#include <errno.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <poll.h>
#include <setjmp.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
// The machines with a store of 16 bytes in one instruction: x86 with SSE2,
// and 64-bit ARM (unless the build leaves the store out: VELKOR_NO_MAPPED_STORE).
#if defined(VELKOR_NO_MAPPED_STORE)
#elif defined(__SSE2__) && (defined(__x86_64__) || defined(__i386__))
#include <emmintrin.h>
#define VELKOR_ONE_STORE_OF_16 1
#elif defined(__aarch64__)
#include <arm_neon.h>
#define VELKOR_ONE_STORE_OF_16 1
#endif

#include "binfile/platform_file.h"
#include "binfile/posix_file.h"
#include "binfile/standard_streams.h"

namespace velkor {

#if defined(VELKOR_ONE_STORE_OF_16)
const bool kMappedStores = true;
#else
const bool kMappedStores = false;
#endif

namespace {

using Clock = std::chrono::steady_clock;

// Set from the process's signal handlers (posix_file.h).
std::atomic<unsigned> leaseNotices{0};  // how many notices the system sent
volatile std::sig_atomic_t storeUnderway = 0;
sigjmp_buf storeFaulted;  // where a store into the mapping that faulted goes on

// The lowest descriptor the file may have: 0, 1 and 2 belong to the
// standard streams even when they are closed, so that nothing printed can
// ever land in the file.
constexpr int kFirstFileDescriptor = 3;
// The part of the file mapped at once, and the one write made as a store.
constexpr uint64_t kWindowSize = uint64_t{1} << 20;
constexpr size_t kStoreSize = 16;

#if defined(VELKOR_ONE_STORE_OF_16)
// Stores the 16 bytes at `bytes` over those at `at` with one instruction,
// which a signal never splits. A fault undoes all of it on x86; on 64-bit
// ARM one on the second of two pages may leave the first page's part made
// (met only where a program without a lock cuts the file short within the
// name). The memory clobber keeps the store where the caller puts it,
// between the settings of storeUnderway.
void storeSixteenBytes(uint8_t* at, const uint8_t* bytes) {
#if defined(__aarch64__)
  const uint8x16_t value = vld1q_u8(bytes);
  __asm__ volatile("str %q1, %0" : "=Q"(*reinterpret_cast<uint8_t(*)[16]>(at)) : "w"(value) : "memory");
#else
  const __m128i value = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
  __asm__ volatile("movdqu %1, %0" : "=m"(*reinterpret_cast<__m128i*>(at)) : "x"(value) : "memory");
#endif
}
#endif

// The system's lease-break time; zero when it cannot be read.
Clock::duration systemBreakTime() {
  char text[24] = {};
  const int fd = ::open("/proc/sys/fs/lease-break-time", O_RDONLY | O_CLOEXEC);
  const ssize_t n = fd < 0 ? -1 : ::read(fd, text, sizeof text - 1);
  if (fd >= 0) ::close(fd);
  const long long seconds = n > 0 ? std::strtoll(text, nullptr, 10) : 0;
  return std::chrono::seconds(seconds > 0 ? seconds : 0);
}

// What the file system under a file allows. A lease holds every path to
// the data only on local disk file systems and tmpfs: on overlayfs and FUSE
// it is on an inode of their own, which a program using the file beneath
// never meets, and network file systems cannot tell of other machines. A
// store through the mapping changes the file's own pages, and nothing
// more, on those and on overlayfs (its mapping is the upper file's);
// elsewhere (FUSE, NFS, CIFS, 9p, any other) pages dirtied through a
// mapping may be written back whole, over what others wrote beside a name.
struct FileSystemAllows {
  bool lease;
  bool mapping;
};

FileSystemAllows fileSystemAllows(int fd) {
  struct statfs fs;
  if (::fstatfs(fd, &fs) != 0) return {false, false};
  switch (static_cast<uint32_t>(fs.f_type)) {
    case EXT4_SUPER_MAGIC:  // ext2 and ext3 too
    case XFS_SUPER_MAGIC:
    case BTRFS_SUPER_MAGIC:
    case F2FS_SUPER_MAGIC:
    case TMPFS_MAGIC:
    case RAMFS_MAGIC:
      return {true, true};
    case OVERLAYFS_SUPER_MAGIC:
      return {false, true};
    default:
      return {false, false};
  }
}

class PosixFile final : public PlatformFile {
 public:
  PosixFile(int fd, bool leased, Clock::duration breakTime, uint64_t windowSize)
      : fd_(fd), leased_(leased), windowSize_(windowSize) {
    // Only a lease has a break time: a listing, or a file without one, reads none.
    breakTime_ = leased_ ? std::min(breakTime, systemBreakTime()) : breakTime;
    noticesAtOpen_ = leaseNotices.load();
  }
  ~PosixFile() override { if (fd_ >= 0) close(); }

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
    *written = 0;
    if (late_ || !mayWrite()) return false;
    bool stored = false;
#if defined(VELKOR_ONE_STORE_OF_16)
    if (n == kStoreSize && mapWindow(offset)) {
      stored = storeMapped(window_ + (offset - windowStart_), buf);
      // A store faults past the end of a file shortened since, or on a page
      // the system could not make writable (a hole on a full disk): there
      // the record's own bytes may still be written.
      uint64_t now = 0;
      if (!stored && (!size(&now) || now < offset || now - offset < n)) return false;
    }
#endif
    if (!stored) {
      ssize_t r;
      do {
        r = ::pwrite(fd_, buf, n, static_cast<off_t>(offset));
      } while (r < 0 && errno == EINTR);
      *written = r < 0 ? 0 : static_cast<size_t>(r);
      if (*written != n) return false;
    }
    *written = n;
    late_ = !wroteInTime();
    return true;
  }

  bool size(uint64_t* size) override {
    struct stat st;
    if (::fstat(fd_, &st) != 0) return false;
    *size = static_cast<uint64_t>(st.st_size);
    return true;
  }

  // Nobody else opens or truncates the file while the lease holds and
  // nobody has asked to.
  bool lengthFixed() override { return leased_ && !noticed(); }

  bool wroteLate() override { return late_; }

  bool isStandardStream(StandardStream stream) override {
    struct stat file;
    return ::fstat(fd_, &file) == 0 && isStandardStream(stream, file);
  }
  // Whether standard output or error (`stream`) is the file `file` tells of.
  static bool isStandardStream(StandardStream stream, const struct stat& file) {
    const int fd = stream == StandardStream::kOutput ? STDOUT_FILENO : STDERR_FILENO;
    struct stat output;
    return ::fstat(fd, &output) == 0 && file.st_dev == output.st_dev && file.st_ino == output.st_ino;
  }

  bool flush() override {
    // The file's length never changes, so its data, stored through the
    // mapping or written, is all that must reach the disk.
    while (::fdatasync(fd_) != 0) {
      if (errno != EINTR) return false;
    }
    return true;
  }

  bool close() override {
    // Closing releases both locks and the lease (whoever waits goes on). A
    // close interrupted by a signal has still released it on Linux: no retry.
    if (window_ != nullptr) ::munmap(window_, static_cast<size_t>(windowSize_ + kStoreSize));
    window_ = nullptr;
    int r = ::close(fd_);
    fd_ = -1;
    return r == 0;
  }

 private:
  // Whether the system has sent a notice since the open.
  bool noticed() const { return leaseNotices.load(std::memory_order_relaxed) != noticesAtOpen_; }

  // Right before a write: false once it may not be made. Finding no notice,
  // the lease is known whole as of the clock read first (a stop of the
  // process between the two then counts against the run).
  bool mayWrite() {
    if (!leased_) return true;
    const Clock::time_point now = Clock::now();
    if (!noticed()) {
      intactAt_ = now;
      return true;
    }
    return inTime(now);
  }

  // Right after a write: false if it was finished too late (the file system
  // frozen, the process held by a debugger), when the waiting program may
  // have been let in.
  bool wroteInTime() { return !leased_ || !noticed() || inTime(Clock::now()); }

  // A notice came: writing ends half the lease-break time after the lease
  // was last known whole, by the smaller of the system's figures at the
  // open and now (an administrator may have lowered it meanwhile).
  bool inTime(Clock::time_point now) {
    if (!noticeSeen_) breakTime_ = std::min(breakTime_, systemBreakTime());
    noticeSeen_ = true;
    return now - intactAt_ < breakTime_ / 2;
  }

#if defined(VELKOR_ONE_STORE_OF_16)
  // Stores the 16 bytes at buf at `at`, in the mapping. False if the store
  // faulted (SIGBUS).
  bool storeMapped(uint8_t* at, const uint8_t* buf) {
    // No signal mask is saved: SIGBUS's handler runs with SA_NODEFER and
    // nothing else blocked (posix_process.cpp), so the jump out of it leaves
    // the mask as it was.
    if (sigsetjmp(storeFaulted, 0) != 0) {
      storeUnderway = 0;
      return false;
    }
    storeUnderway = 1;
    storeSixteenBytes(at, buf);
    storeUnderway = 0;
    return true;
  }

  // Maps the window of the file that holds the 16 bytes at `offset`. False
  // where the file cannot be mapped; it is then not asked again.
  bool mapWindow(uint64_t offset) {
    if (windowSize_ == 0) return false;
    if (window_ != nullptr && offset >= windowStart_ && offset - windowStart_ < windowSize_) {
      return true;
    }
    if (window_ != nullptr) ::munmap(window_, static_cast<size_t>(windowSize_ + kStoreSize));
    windowStart_ = offset - offset % windowSize_;
    // The window reaches 16 bytes past its end, so that a name that starts
    // in it is stored whole.
    void* p = ::mmap(nullptr, static_cast<size_t>(windowSize_ + kStoreSize), PROT_READ | PROT_WRITE, MAP_SHARED, fd_,
                     static_cast<off_t>(windowStart_));
    window_ = p == MAP_FAILED ? nullptr : static_cast<uint8_t*>(p);
    if (window_ == nullptr) windowSize_ = 0;
    return window_ != nullptr;
  }
#endif

  int fd_;
  const bool leased_;
  uint64_t windowSize_;  // 0: names are written, not stored
  Clock::duration breakTime_;
  Clock::time_point intactAt_ = Clock::now();  // when the lease was last known whole
  unsigned noticesAtOpen_;
  bool noticeSeen_ = false;
  bool late_ = false;  // a write was found finished too late: no other is made
  uint8_t* window_ = nullptr;
#if defined(VELKOR_ONE_STORE_OF_16)
  uint64_t windowStart_ = 0;
#endif
};

// True when the failed lock call met another holder's lock; any other
// failure (a file system without that kind of lock, say) leaves it usable.
bool heldByAnother(int error) {
  return error == EWOULDBLOCK || error == EAGAIN || error == EACCES;
}

// Takes the two kinds of lock other programs use on POSIX systems: flock,
// and a record lock over the whole file, which belongs to the open file
// description (so it does not meet the tool's own flock, and closing the
// descriptor releases both). Neither call waits, so neither is interrupted.
bool lockWholeFile(int fd) {
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && heldByAnother(errno)) return false;
  struct flock whole = {};  // from offset 0 (SEEK_SET) to the end, however long it grows
  whole.l_type = F_WRLCK;
  return ::fcntl(fd, F_OFD_SETLK, &whole) == 0 || !heldByAnother(errno);
}

// Takes a write lease on the file (where it holds every path to the data);
// sets *leased if it did. Returns false only when another program has the
// file open; a lease refused for any other reason (a file the user does not
// own, say) leaves the file held by the locks.
bool leaseWholeFile(int fd, bool* leased) {
  *leased = ::fcntl(fd, F_SETLEASE, F_WRLCK) == 0;
  return *leased || errno != EAGAIN;
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

std::unique_ptr<PlatformFile> openPosixFile(const char* path, bool willWrite,
                                            Clock::duration breakTime, uint64_t windowSize) {
  // O_NONBLOCK keeps a FIFO from blocking the open, and an open that
  // another program's lease would hold back fails at once instead of
  // waiting; the file type is checked right after, and only regular files
  // are kept.
  int fd;
  do {
    fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  fd = aboveStandardStreams(fd);
  if (fd < 0) return nullptr;
  struct stat st;
  int flags;
  bool leased = false;
  const FileSystemAllows allows = fileSystemAllows(fd);
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || (flags = ::fcntl(fd, F_GETFL)) < 0 ||
      ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0 || !lockWholeFile(fd) ||
      (allows.lease && !leaseWholeFile(fd, &leased))) {
    ::close(fd);
    return nullptr;
  }
  // A listing only needed to know that nobody else had the file open.
  if (leased && !willWrite) leased = ::fcntl(fd, F_SETLEASE, F_UNLCK) != 0;
  return std::unique_ptr<PlatformFile>(
      new PosixFile(fd, leased, breakTime, allows.mapping ? windowSize : 0));
}

std::unique_ptr<PlatformFile> openPlatformFile(const char* path, bool willWrite) {
  return openPosixFile(path, willWrite, Clock::duration::max(), kWindowSize);
}

void noteLeaseBreak() { leaseNotices.fetch_add(1, std::memory_order_relaxed); }

void abandonMappedStore() {
  if (storeUnderway) siglongjmp(storeFaulted, 1);
}

// The standard streams: descriptors, written to directly.

bool standardStreamIsFile(StandardStream stream, const char* path) {
  struct stat file;
  return ::stat(path, &file) == 0 && PosixFile::isStandardStream(stream, file);
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
