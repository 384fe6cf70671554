// The benchmark's baseline: one bare URLDownloadToFileA call, no status
// callback and no checks. bare_download.exe URL FILE prints the HRESULT.
#include <windows.h>
#include <urlmon.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const HRESULT result = URLDownloadToFileA(nullptr, argv[1], argv[2], 0, nullptr);
  std::printf("%ld\n", static_cast<long>(result));
  return 0;
}
