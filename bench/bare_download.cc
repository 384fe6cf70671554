// The benchmark's baseline: one bare URLDownloadToFileA call, no status
// callback and no checks. bare_download.exe URL FILE [--flush] prints the
// HRESULT; with --flush it then also flushes FILE to disk, to show what
// the updater's durability step costs on its own.
#include <windows.h>
#include <urlmon.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4) return 2;
  HRESULT result = URLDownloadToFileA(nullptr, argv[1], argv[2], 0, nullptr);
  if (result >= 0 && argc == 4 && std::strcmp(argv[3], "--flush") == 0) {
    const HANDLE file = CreateFileA(argv[2], GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE || !FlushFileBuffers(file)) result = HRESULT_FROM_WIN32(GetLastError());
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  }
  std::printf("%ld\n", static_cast<long>(result));
  return 0;
}
