// hold_file PATH HOW: another Windows program that has PATH open. It opens
// the file, says "held" on standard output and keeps the file open until its
// standard input ends.
//   exclusive  read and write, nobody else let in
//   shared     read and write, everybody else let in
//   reader     read only, other readers let in
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: hold_file PATH exclusive|shared|reader\n");
    return 2;
  }
  DWORD access = GENERIC_READ | GENERIC_WRITE;
  DWORD share = 0;
  if (std::strcmp(argv[2], "shared") == 0) {
    share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  } else if (std::strcmp(argv[2], "reader") == 0) {
    access = GENERIC_READ;
    share = FILE_SHARE_READ;
  } else if (std::strcmp(argv[2], "exclusive") != 0) {
    std::fprintf(stderr, "hold_file: unknown way %s\n", argv[2]);
    return 2;
  }
  HANDLE h = CreateFileA(argv[1], access, share, NULL, OPEN_EXISTING, 0, NULL);
  if (h == INVALID_HANDLE_VALUE) {
    std::printf("cannot open %s: error %lu\n", argv[1], GetLastError());
    return 1;
  }
  std::printf("held\n");
  std::fflush(stdout);
  while (std::getchar() != EOF) {
  }
  CloseHandle(h);
  return 0;
}
