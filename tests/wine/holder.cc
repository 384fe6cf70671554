// Holds a file open the way a virus scanner or a running program may: read
// and write sharing but no delete sharing, so the file can't be renamed or
// deleted while it is held. holder.exe FILE creates "FILE.held" once the file
// is open, then idles until it is terminated (ten minutes at most).
#include <windows.h>

#include <string>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const HANDLE held = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (held == INVALID_HANDLE_VALUE) return 1;
  const HANDLE marker = CreateFileA((std::string(argv[1]) + ".held").c_str(), GENERIC_WRITE, 0, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  CloseHandle(marker);
  Sleep(10 * 60 * 1000);
  CloseHandle(held);
  return 0;
}
