// Runs the platform layer's download once and prints its result code, for
// the wine tests of the download: download_probe.exe URL FILE [MAXBYTES]
#include <cstdio>
#include <cstdlib>

#include "platform/platform.h"

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) {
    std::fprintf(stderr, "usage: download_probe URL FILE [MAXBYTES]\n");
    return 2;
  }
  const std::uint64_t maxBytes = argc == 4 ? std::strtoull(argv[3], nullptr, 10) : ~std::uint64_t{0};
  std::printf("%ld\n", static_cast<long>(platform::URLDownloadToFileA(argv[1], argv[2], maxBytes, nullptr)));
  return 0;
}
