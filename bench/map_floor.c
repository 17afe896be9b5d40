/* The floor under a rename that stores through a shared mapping: the same
 * renames the tool makes, each one 16-byte store, and nothing else. It
 * reads the file (a prologue with one item, then texture blocks only, as
 * mkbin writes it) 128 KiB at a time, as pwrite_floor does, and stores the
 * name field of each record named OLD (NEW and its NUL over the field's
 * start, the rest as it was) with one 16-byte store into a 1 MiB window of
 * the file mapped MAP_SHARED, PROT_READ|PROT_WRITE. The window moves along
 * the file: when a field lies outside it, it is unmapped and the next one
 * starts at the page that holds the field, so that no field is ever split
 * between two windows. An unmapped window's stores stay in the page cache;
 * at the end the last window is synced with msync and the file with one
 * fdatasync. No walk, no checks, no output: what is left is what the
 * system charges for the stores.
 *
 *   map_floor FILE OLD NEW
 */
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdint.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

enum { kStart = 32, kBlock = 24, kChunk = 128 * 1024 / kBlock * kBlock, kWindow = 1 << 20 };

/* Writes the 16 bytes at `from` to `to` with one store instruction where
 * the machine has one. */
static void store16(unsigned char* to, const unsigned char* from) {
#ifdef __SSE2__
  _mm_storeu_si128((__m128i*)to, _mm_loadu_si128((const __m128i*)from));
#else
  memcpy(to, from, 16);
#endif
}

int main(int argc, char** argv) {
  if (argc != 4 || strlen(argv[2]) > 15 || strlen(argv[3]) > 15) return 2;
  const int fd = open(argv[1], O_RDWR);
  if (fd < 0) return 1;
  const off_t page = (off_t)sysconf(_SC_PAGESIZE);
  static unsigned char buf[kChunk];
  char name[16] = {0};
  memcpy(name, argv[2], strlen(argv[2]));
  const size_t compared = strlen(argv[2]) + 1;
  const size_t stored = strlen(argv[3]) + 1;
  unsigned char* window = NULL;
  off_t base = 0; /* file offset of window[0] */
  off_t at = kStart;
  ssize_t got;
  while ((got = pread(fd, buf, kChunk, at)) >= kBlock) {
    for (ssize_t i = 0; i + kBlock <= got; i += kBlock) {
      unsigned char* field = buf + i + 8;
      if (buf[i] != 13 || memcmp(field, name, compared) != 0) continue;
      const off_t where = at + i + 8;
      if (window == NULL || where < base || where + 16 > base + kWindow) {
        if (window != NULL && munmap(window, kWindow) != 0) return 1;
        base = where / page * page;
        window = mmap(NULL, kWindow, PROT_READ | PROT_WRITE, MAP_SHARED, fd, base);
        if (window == MAP_FAILED) return 1;
      }
      memcpy(field, argv[3], stored);
      store16(window + (where - base), field);
    }
    at += got / kBlock * kBlock;
  }
  if (window != NULL && (msync(window, kWindow, MS_SYNC) != 0 || munmap(window, kWindow) != 0))
    return 1;
  return fdatasync(fd) == 0 && close(fd) == 0 ? 0 : 1;
}
