// mkbin: writes BIN files for the demo, the tests and the benchmark.
//
//   mkbin example PATH          the small example file
//   mkbin textures BYTES PATH   texture blocks only: every 1000th named rare01,
//                               the other every 8th brick01
//   mkbin mixed BYTES PATH      all eleven known block types in turn
//   mkbin items BYTES PATH      almost all items, in four counted blocks
//   mkbin huge PATH             a sparse file with a texture past 4 GiB
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bin_writer.h"

namespace {

using velkor::BinWriter;

void textures(BinWriter& w, uint64_t bytes) {
  w.prologue(1);
  for (uint64_t i = 0; w.offset() + 24 + 4 <= bytes; ++i) {
    char name[16];
    if (i % 1000 == 0) {
      std::snprintf(name, sizeof name, "rare01");
    } else if (i % 8 == 0) {
      std::snprintf(name, sizeof name, "brick01");
    } else {
      std::snprintf(name, sizeof name, "tex%07llu", static_cast<unsigned long long>(i % 10000000));
    }
    w.texture(name, static_cast<uint32_t>(i));
  }
  w.endBlock();
}

void mixed(BinWriter& w, uint64_t bytes) {
  w.prologue(1);
  for (uint64_t i = 0; w.offset() + 4096 <= bytes; ++i) {
    w.perRecord(1);
    w.texture(i % 8 == 0 ? "brick01" : "stone02", static_cast<uint32_t>(i));
    for (uint32_t type : velkor::kCountedBlockTypes) w.counted(type, static_cast<int32_t>(i % 3));
    w.countedWords(static_cast<int32_t>(i % 5));
  }
  w.endBlock();
}

void items(BinWriter& w, uint64_t bytes) {
  w.prologue(1);
  int32_t each = static_cast<int32_t>((bytes - 200) / 4 / 12);
  for (int i = 0; i < 4; ++i) {
    w.counted(velkor::kCountedBlockTypes[i], each);
    w.texture("brick01");
  }
  w.endBlock();
}

void huge(BinWriter& w) {
  w.prologue(1).texture("near").counted(41, 400000000, /*sparse=*/true).texture("far_away").endBlock();
}

int usage() {
  std::fprintf(stderr,
               "usage: mkbin example PATH | mkbin textures|mixed|items BYTES PATH | mkbin huge PATH\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return usage();
  std::string kind = argv[1];
  bool sized = kind == "textures" || kind == "mixed" || kind == "items";
  if ((sized && argc != 4) || (!sized && argc != 3)) return usage();
  const char* path = argv[argc - 1];
  std::FILE* f = std::fopen(path, "wb");
  if (!f) {
    std::perror(path);
    return 1;
  }
  bool ok = true;
  {
    BinWriter w(f);
    if (kind == "example") {
      std::vector<uint8_t> bytes = velkor::exampleBinFile();
      w.bytes(bytes.data(), bytes.size());
    } else if (kind == "huge") {
      huge(w);
    } else if (sized) {
      uint64_t bytes = std::strtoull(argv[2], nullptr, 10);
      if (bytes < 4096) bytes = 4096;
      if (kind == "textures") textures(w, bytes);
      if (kind == "mixed") mixed(w, bytes);
      if (kind == "items") items(w, bytes);
    } else {
      std::fclose(f);
      return usage();
    }
    ok = w.finish();
  }
  if (std::fclose(f) != 0) ok = false;
  if (!ok) {
    std::fprintf(stderr, "mkbin: could not write %s\n", path);
    return 1;
  }
  return 0;
}
