// Runs the platform layer's download once and prints its result code, for
// the wine tests of the download: download_probe.exe URL FILE
#include <cstdio>

#include "platform/platform.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: download_probe URL FILE\n");
    return 2;
  }
  std::printf("%ld\n", static_cast<long>(platform::URLDownloadToFileA(argv[1], argv[2])));
  return 0;
}
