// Console start-up of the Windows program. The mingw-w64 runtime reads this
// flag before main: 0 makes it split the command line into arguments
// without expanding wildcards, so "*.bin" reaches the tool as typed.
extern "C" {
int _dowildcard = 0;
}
