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

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace platform {

// An opaque Windows HANDLE.
using Handle = std::uintptr_t;
constexpr Handle kNullHandle = 0;
constexpr Handle kInvalidHandleValue = ~Handle{0};  // INVALID_HANDLE_VALUE

constexpr std::uint32_t kInvalidFileAttributes = 0xFFFFFFFFu;
constexpr std::uint32_t kFileAttributeReadonly = 0x1u;
constexpr std::uint32_t kFileAttributeNormal = 0x80u;

// SHGetFolderPathA(NULL, CSIDL_APPDATA, NULL, SHGFP_TYPE_CURRENT, buffer of
// MAX_PATH bytes). Returns the HRESULT; `folder` receives the buffer's text up
// to its terminating zero (empty when the call failed).
std::int32_t SHGetFolderPathA(std::string& folder);

std::uint32_t GetFileAttributesA(const std::string& path);

// CreateDirectoryA(path, NULL).
bool CreateDirectoryA(const std::string& path);

bool SetFileAttributesA(const std::string& path, std::uint32_t attributes);

bool DeleteFileA(const std::string& path);

// Renames without replacing: fails when `to` already exists.
bool MoveFileA(const std::string& from, const std::string& to);

// Told of each step of a download: the bytes received so far and the length
// the server announced (0 when it announced none).
using DownloadProgress = std::function<void(std::uint64_t received, std::uint64_t announced)>;

// URLDownloadToFileA for `url` (a literal of the build) into `file`, with a
// status callback that watches the answer. Returns a negative HRESULT unless
// the server answered 2xx with a Content-Type other than text/html and `file`
// holds exactly the bytes received - at least one, at most `maxBytes`, and
// the announced length if there was one - flushed to disk. A download that
// passes `maxBytes` is stopped there. `progress`, when set, hears of each step.
std::int32_t URLDownloadToFileA(const char* url, const std::string& file, std::uint64_t maxBytes,
                                const DownloadProgress& progress);

// CreateFileA + ReadFile: the whole content of `path` into `content`. Returns
// the HRESULT; a file longer than `maxBytes` is refused unread
// (HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE)).
std::int32_t ReadFile(const std::string& path, std::string& content, std::size_t maxBytes);

// BCryptHashData over the whole content of `file`, read in chunks of 1 MB:
// its SHA-256 digest (32 bytes) into `digest`. Returns the HRESULT.
std::int32_t BCryptHashData(const std::string& file, std::string& digest);

// BCryptVerifySignature of `signature` (an ECDSA signature, DER-encoded as
// OpenSSL writes it) over the SHA-256 `digest`, with `publicKey` (an ECDSA
// P-256 public key, DER SubjectPublicKeyInfo). The key and the signature are
// decoded with CryptDecodeObjectEx and the key imported with
// CryptImportPublicKeyInfoEx2. Returns S_OK (0) only when the signature
// verifies; otherwise the failing step's code as an HRESULT (an NTSTATUS such
// as STATUS_INVALID_SIGNATURE through HRESULT_FROM_NT).
std::int32_t BCryptVerifySignature(std::string_view publicKey, const std::string& digest,
                                   const std::string& signature);

// GetConsoleMode on standard output's handle: true when standard output is an
// interactive console (not a file, a pipe or closed).
bool GetConsoleMode();

// Milliseconds since the system started.
std::uint64_t GetTickCount64();

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
