// The one seam between the updater and Windows.
//
// Each function stands for one Windows operation and carries its name. Only
// the arguments that vary from call to call cross the seam; the fixed ones
// (null owner window, CSIDL_APPDATA, reserved zeros, security attributes ...)
// are filled in by the Windows implementation, platform_win32.cc, which is
// the only file of the updater that includes <windows.h>. The unit tests link
// a fake instead.
#ifndef VELMORA_PLATFORM_PLATFORM_H_
#define VELMORA_PLATFORM_PLATFORM_H_

#include <cstdint>
#include <string>

namespace platform {

// An opaque Windows HANDLE.
using Handle = std::uintptr_t;
constexpr Handle kNullHandle = 0;
constexpr Handle kInvalidHandleValue = ~Handle{0};  // INVALID_HANDLE_VALUE

constexpr std::uint32_t kInvalidFileAttributes = 0xFFFFFFFFu;

// SHGetFolderPathA(NULL, CSIDL_APPDATA, NULL, SHGFP_TYPE_CURRENT, buffer of
// MAX_PATH bytes). Returns the HRESULT; `folder` receives the buffer's text up
// to its terminating zero (empty when the call failed).
std::int32_t SHGetFolderPathA(std::string& folder);

std::uint32_t GetFileAttributesA(const std::string& path);

// CreateDirectoryA(path, NULL).
bool CreateDirectoryA(const std::string& path);

bool DeleteFileA(const std::string& path);

// Renames without replacing: fails when `to` already exists.
bool MoveFileA(const std::string& from, const std::string& to);

// URLDownloadToFileA for `url` (a literal of the build) into `file`. Returns a negative HRESULT unless
// the server answered 2xx and `file` holds exactly the bytes received (and
// the announced length, if there was one), flushed to disk.
std::int32_t URLDownloadToFileA(const char* url, const std::string& file);

// What CreateProcessA fills in.
struct ProcessInformation {
  Handle process = kNullHandle;
  Handle thread = kNullHandle;
  std::uint32_t processId = 0;
  std::uint32_t threadId = 0;
};

// CreateProcessA(application, NULL command line, NULL, NULL, FALSE, 0, NULL,
// NULL, zeroed STARTUPINFOA with cb = sizeof, &info).
bool CreateProcessA(const std::string& application, ProcessInformation& info);

std::uint32_t GetLastError();

bool CloseHandle(Handle handle);

// One entry of a process snapshot: the process id and the executable's file
// name without its folder, as the UTF-16 code units Windows reports.
struct ProcessEntry {
  std::uint32_t processId = 0;
  std::u16string exeFile;
};

// CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0); kInvalidHandleValue on failure.
Handle CreateToolhelp32Snapshot();

// Process32FirstW / Process32NextW on a PROCESSENTRY32W whose dwSize is
// sizeof. False when there is no (further) entry.
bool Process32FirstW(Handle snapshot, ProcessEntry& entry);
bool Process32NextW(Handle snapshot, ProcessEntry& entry);

// OpenProcess(PROCESS_TERMINATE, FALSE, processId); kNullHandle on failure.
Handle OpenProcess(std::uint32_t processId);

bool TerminateProcess(Handle process, std::uint32_t exitCode);

}  // namespace platform

#endif  // VELMORA_PLATFORM_PLATFORM_H_
