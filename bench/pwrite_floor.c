/* The floor under a rename of the benchmark's textures file: the same
 * writes the tool makes, and nothing else. It reads the file (a prologue
 * with one item, then texture blocks only, as mkbin writes it) 128 KiB at a
 * time and writes each record named OLD back where it lies, named NEW (NEW
 * and its NUL over the start of the name field, the rest as it was), with
 * one pwrite of its 20 bytes, then calls fdatasync once. No walk, no
 * checks, no output: what is left is what the system charges for the
 * writes.
 *
 *   pwrite_floor FILE OLD NEW
 */
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

enum { kStart = 32, kBlock = 24, kChunk = 128 * 1024 / kBlock * kBlock };

int main(int argc, char** argv) {
  if (argc != 4 || strlen(argv[2]) > 15 || strlen(argv[3]) > 15) return 2;
  int fd = open(argv[1], O_RDWR);
  if (fd < 0) return 1;
  static unsigned char buf[kChunk];
  char name[16] = {0};
  memcpy(name, argv[2], strlen(argv[2]));
  const size_t compared = strlen(argv[2]) + 1;
  const size_t stored = strlen(argv[3]) + 1;
  off_t at = kStart;
  ssize_t got;
  while ((got = pread(fd, buf, kChunk, at)) >= kBlock) {
    for (ssize_t i = 0; i + kBlock <= got; i += kBlock) {
      unsigned char* record = buf + i + 4;
      if (buf[i] != 13 || memcmp(record + 4, name, compared) != 0) continue;
      memcpy(record + 4, argv[3], stored);
      if (pwrite(fd, record, 20, at + i + 4) != 20) return 1;
    }
    at += got / kBlock * kBlock;
  }
  return fdatasync(fd) == 0 && close(fd) == 0 ? 0 : 1;
}
