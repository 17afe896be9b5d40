// The POSIX backend of PlatformFile: a descriptor above the standard
// streams', held for the run with an exclusive flock and record lock, and
// on a local file system a write lease. Reads are preads; a write of 16
// bytes is one store through a shared mapping, any other a pwrite.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <setjmp.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>
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

// Set from the process's signal handlers (posix_file.h).
std::atomic<int> fileWanted{0};  // another program waits for the leased file
volatile std::sig_atomic_t storeUnderway = 0;
sigjmp_buf storeAbandoned;  // where an abandoned store goes on, with its signal

// The lowest descriptor the file may have: 0, 1 and 2 belong to the
// standard streams even when they are closed, so that nothing printed can
// ever land in the file.
constexpr int kFirstFileDescriptor = 3;
// The part of the file mapped at once, and the one write made as a store.
constexpr uint64_t kWindowSize = uint64_t{1} << 20;
constexpr size_t kStoreSize = 16;

#if defined(VELKOR_ONE_STORE_OF_16)
// Stores the 16 bytes at `bytes` over those at `at` with one instruction,
// which a signal never splits. The memory clobber keeps the store where the
// caller puts it, between the settings of storeUnderway.
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

int64_t monotonicNanoseconds() {
  struct timespec now;
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}

// The system's lease-break time in nanoseconds; 0 when it cannot be read.
int64_t leaseBreakNanoseconds() {
  char text[24] = {};
  const int fd = ::open("/proc/sys/fs/lease-break-time", O_RDONLY | O_CLOEXEC);
  const ssize_t n = fd < 0 ? -1 : ::read(fd, text, sizeof text - 1);
  if (fd >= 0) ::close(fd);
  const long long seconds = n > 0 ? std::strtoll(text, nullptr, 10) : 0;
  return seconds > 0 ? seconds * 1000000000 : 0;
}

// True where a lease holds every path to the file's data: local disk file
// systems and tmpfs. On overlayfs and FUSE the lease is on an inode of
// their own, which a program using the file beneath never meets; network
// file systems cannot tell of other machines.
bool leaseHoldsEveryPath(int fd) {
  struct statfs fs;
  if (::fstatfs(fd, &fs) != 0) return false;
  switch (static_cast<uint32_t>(fs.f_type)) {
    case 0xef53u:      // ext2, ext3, ext4
    case 0x58465342u:  // xfs
    case 0x9123683eu:  // btrfs
    case 0xf2f52010u:  // f2fs
    case 0x01021994u:  // tmpfs
    case 0x858458f6u:  // ramfs
      return true;
    default:
      return false;
  }
}

class PosixFile final : public PlatformFile {
 public:
  PosixFile(int fd, bool leased) : fd_(fd), leased_(leased) {
    if (leased_) breakNanoseconds_ = leaseBreakNanoseconds(), intactAt_ = monotonicNanoseconds();
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
#if defined(VELKOR_ONE_STORE_OF_16)
    const Store stored = n == kStoreSize ? storeMapped(offset, buf) : Store::kUnmapped;
    if (stored == Store::kDone || stored == Store::kRefused) {
      *written = stored == Store::kDone ? n : 0;
      return stored == Store::kDone;
    }
    // The store faulted: past the end of a file shortened since, or on a
    // page the system could not make writable (a hole on a full disk, where
    // the record's own bytes may still be written).
    uint64_t now = 0;
    if (stored == Store::kFaulted && (!size(&now) || now < offset || now - offset < n)) return false;
#endif
    if (!writeMayGoOn()) return false;
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

  // Nobody else opens or truncates the file while the lease holds and
  // nobody has asked to.
  bool lengthFixed() override { return leased_ && fileWanted.load(std::memory_order_relaxed) == 0; }

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
    if (window_ != nullptr) ::munmap(window_, kWindowSize + kStoreSize);
    window_ = nullptr;
    int r = ::close(fd_);
    fd_ = -1;
    return r == 0;
  }

 private:
  // False once writing must end. With a lease, that is once another program
  // has asked for the file and half the lease-break time has passed since
  // the lease was last known whole: a stop of the process, which delays
  // the notice, then counts against the run.
  bool writeMayGoOn() {
    if (!leased_ || fileWanted.load(std::memory_order_relaxed) == 0) return true;
    return monotonicNanoseconds() - intactAt_ < breakNanoseconds_ / 2;
  }

#if defined(VELKOR_ONE_STORE_OF_16)
  // Stores the 16 bytes at buf over those at `offset` with one instruction,
  // which neither a fault nor a signal can leave half done, even across pages.
  enum class Store { kDone, kRefused, kFaulted, kUnmapped };
  Store storeMapped(uint64_t offset, const uint8_t* buf) {
    if (!mapWindow(offset)) return Store::kUnmapped;
    uint8_t* const at = window_ + (offset - windowStart_);
    switch (sigsetjmp(storeAbandoned, 0)) {
      case 0:
        break;
      case SIGBUS:
        storeUnderway = 0;
        return Store::kFaulted;
      default:
        // A notice or a resume came before the store was known made: ask
        // again. A store that may no longer be made counts if its bytes
        // stand in the file already.
        storeUnderway = 0;
        if (writeMayGoOn()) return storeMapped(offset, buf);
        uint8_t now[kStoreSize];
        size_t got = 0;
        return readAt(offset, now, kStoreSize, &got) && got == kStoreSize &&
                       std::memcmp(now, buf, kStoreSize) == 0
                   ? Store::kDone
                   : Store::kRefused;
    }
    storeUnderway = 1;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    if (!writeMayGoOn()) {
      storeUnderway = 0;
      return Store::kRefused;
    }
    storeSixteenBytes(at, buf);
    storeUnderway = 0;
    return Store::kDone;
  }

  // Maps the window of the file that holds the 16 bytes at `offset`.
  bool mapWindow(uint64_t offset) {
    if (window_ != nullptr && offset >= windowStart_ && offset - windowStart_ < kWindowSize) {
      return true;
    }
    if (window_ != nullptr) ::munmap(window_, kWindowSize + kStoreSize);
    // No notice yet: the lease is whole now.
    const int64_t now = monotonicNanoseconds();
    if (fileWanted.load(std::memory_order_relaxed) == 0) intactAt_ = now;
    windowStart_ = offset & ~(kWindowSize - 1);
    void* p = ::mmap(nullptr, kWindowSize + kStoreSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd_,
                     static_cast<off_t>(windowStart_));
    window_ = p == MAP_FAILED ? nullptr : static_cast<uint8_t*>(p);
    return window_ != nullptr;
  }
#endif

  int fd_;
  const bool leased_;
  int64_t breakNanoseconds_ = 0;
  int64_t intactAt_ = 0;  // when the lease was last known whole
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

// Takes a write lease on the file where it holds every path to the data
// (see posix_file.h); sets *leased if it did. Returns false only when
// another program has the file open; a lease refused for any other reason
// (a file the user does not own, say) leaves the file held by the locks.
bool leaseWholeFile(int fd, bool* leased) {
  *leased = false;
  if (!leaseHoldsEveryPath(fd)) return true;
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

std::unique_ptr<PlatformFile> openPlatformFile(const char* path) {
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
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || (flags = ::fcntl(fd, F_GETFL)) < 0 ||
      ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0 || !lockWholeFile(fd) ||
      !leaseWholeFile(fd, &leased)) {
    ::close(fd);
    return nullptr;
  }
  return std::unique_ptr<PlatformFile>(new PosixFile(fd, leased));
}

void noteLeaseSignal(int signal) {
  if (signal == SIGIO) fileWanted.store(1, std::memory_order_relaxed);
  if (storeUnderway) siglongjmp(storeAbandoned, signal);
}

void abandonMappedStore() {
  if (storeUnderway) siglongjmp(storeAbandoned, SIGBUS);
}

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
