// The Windows side of the platform seam; the only file of the updater that
// includes <windows.h>.
#include "platform/platform.h"

#include <windows.h>
#include <shlobj.h>
#include <tlhelp32.h>
#include <urlmon.h>

static_assert(sizeof(wchar_t) == sizeof(char16_t), "process names cross the seam as UTF-16 code units");
#ifndef _WIN64
// The record sizes the 32-bit release depends on; x86_64 has larger ones.
static_assert(sizeof(STARTUPINFOA) == 68, "STARTUPINFOA is 68 bytes in the 32-bit build");
static_assert(sizeof(PROCESSENTRY32W) == 556, "PROCESSENTRY32W is 556 bytes in the 32-bit build");
#endif

namespace {

HANDLE ToWindows(platform::Handle handle) { return reinterpret_cast<HANDLE>(handle); }
platform::Handle FromWindows(HANDLE handle) { return reinterpret_cast<platform::Handle>(handle); }

// HRESULT of an HTTP status outside 2xx: FACILITY_HTTP, the status as code
// (404 gives 0x80190194, the platform's HTTP_E_STATUS_NOT_FOUND).
HRESULT FromHttpStatus(DWORD status) { return static_cast<HRESULT>(0x80190000u + (status & 0xFFFFu)); }

// Watches one URLDownloadToFileA call. On its own the call reports success for
// an error page, for a body cut short and for a file it could not store, so
// the download records what the server answered and how many bytes arrived,
// and decides after the call returns. It lives on the caller's stack for the
// length of that one blocking call; reference counting is therefore inert.
class DownloadWatch final : public IBindStatusCallback, public IHttpNegotiate {
 public:
  DWORD httpStatus = 0;  // 0 until the server has answered
  ULONG bytesReceived = 0;
  ULONG bytesAnnounced = 0;  // 0 when the server sent no length

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IBindStatusCallback)) {
      *object = static_cast<IBindStatusCallback*>(this);
    } else if (IsEqualIID(riid, IID_IHttpNegotiate)) {
      *object = static_cast<IHttpNegotiate*>(this);
    } else {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 1; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }

  // IBindStatusCallback
  STDMETHODIMP OnStartBinding(DWORD, IBinding*) override { return S_OK; }
  STDMETHODIMP GetPriority(LONG*) override { return E_NOTIMPL; }
  STDMETHODIMP OnLowResource(DWORD) override { return S_OK; }
  STDMETHODIMP OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode, LPCWSTR) override {
    if (statusCode == BINDSTATUS_BEGINDOWNLOADDATA || statusCode == BINDSTATUS_DOWNLOADINGDATA ||
        statusCode == BINDSTATUS_ENDDOWNLOADDATA) {
      bytesReceived = progress;
      bytesAnnounced = progressMax;
    }
    return S_OK;
  }
  STDMETHODIMP OnStopBinding(HRESULT, LPCWSTR) override { return S_OK; }
  STDMETHODIMP GetBindInfo(DWORD* flags, BINDINFO* info) override {
    // Always ask the server, and keep nothing in the WinINet cache: a cached
    // copy of an older package must never be installed as the new one.
    *flags = BINDF_GETNEWESTVERSION | BINDF_NOWRITECACHE;
    const ULONG size = info->cbSize;
    ZeroMemory(info, size);
    info->cbSize = size;
    info->dwBindVerb = BINDVERB_GET;
    return S_OK;
  }
  STDMETHODIMP OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override { return S_OK; }
  STDMETHODIMP OnObjectAvailable(REFIID, IUnknown*) override { return S_OK; }

  // IHttpNegotiate
  STDMETHODIMP BeginningTransaction(LPCWSTR, LPCWSTR, DWORD, LPWSTR* additionalHeaders) override {
    *additionalHeaders = nullptr;
    return S_OK;
  }
  STDMETHODIMP OnResponse(DWORD status, LPCWSTR, LPCWSTR, LPWSTR* additionalHeaders) override {
    // The answer is judged after the call returns: Wine ignores an error
    // returned from here.
    httpStatus = status;
    if (additionalHeaders != nullptr) *additionalHeaders = nullptr;
    return S_OK;
  }
};

// Checks that `file` holds what the watch saw arrive and flushes it to disk,
// so a power loss after the package is moved into place can't leave it empty.
HRESULT VerifyAndFlush(const std::string& file, const DownloadWatch& watch) {
  const HANDLE handle = ::CreateFileA(file.c_str(), GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return HRESULT_FROM_WIN32(::GetLastError());

  LARGE_INTEGER size{};
  HRESULT result = S_OK;
  if (!::GetFileSizeEx(handle, &size)) {
    result = HRESULT_FROM_WIN32(::GetLastError());
  } else if (static_cast<ULONGLONG>(size.QuadPart) != watch.bytesReceived ||
             (watch.bytesAnnounced != 0 && watch.bytesReceived != watch.bytesAnnounced)) {
    result = INET_E_DOWNLOAD_FAILURE;
  } else if (!::FlushFileBuffers(handle)) {
    result = HRESULT_FROM_WIN32(::GetLastError());
  }
  ::CloseHandle(handle);
  return result;
}

}  // namespace

namespace platform {

std::int32_t SHGetFolderPathA(std::string& folder) {
  char buffer[MAX_PATH] = {};
  const HRESULT result = ::SHGetFolderPathA(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, buffer);
  buffer[MAX_PATH - 1] = '\0';
  folder = result < 0 ? std::string() : std::string(buffer);
  return result;
}

std::uint32_t GetFileAttributesA(const std::string& path) { return ::GetFileAttributesA(path.c_str()); }

bool CreateDirectoryA(const std::string& path) { return ::CreateDirectoryA(path.c_str(), nullptr) != FALSE; }

bool DeleteFileA(const std::string& path) { return ::DeleteFileA(path.c_str()) != FALSE; }

bool MoveFileA(const std::string& from, const std::string& to) {
  return ::MoveFileA(from.c_str(), to.c_str()) != FALSE;
}

std::int32_t URLDownloadToFileA(const char* url, const std::string& file) {
  const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  DownloadWatch watch;
  HRESULT result = ::URLDownloadToFileA(nullptr, url, file.c_str(), 0, &watch);
  if (result >= 0) {
    if (watch.httpStatus < 200 || watch.httpStatus > 299) {
      result = watch.httpStatus == 0 ? INET_E_DOWNLOAD_FAILURE : FromHttpStatus(watch.httpStatus);
    } else {
      result = VerifyAndFlush(file, watch);
    }
  }
  if (SUCCEEDED(com)) ::CoUninitialize();
  return result;
}

bool CreateProcessA(const std::string& application, ProcessInformation& info) {
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION started{};
  if (!::CreateProcessA(application.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &started)) {
    return false;
  }
  info.process = FromWindows(started.hProcess);
  info.thread = FromWindows(started.hThread);
  info.processId = started.dwProcessId;
  info.threadId = started.dwThreadId;
  return true;
}

std::uint32_t GetLastError() { return ::GetLastError(); }

bool CloseHandle(Handle handle) { return ::CloseHandle(ToWindows(handle)) != FALSE; }

Handle CreateToolhelp32Snapshot() { return FromWindows(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0)); }

namespace {
bool ReadProcessEntry(BOOL(WINAPI* read)(HANDLE, LPPROCESSENTRY32W), Handle snapshot, ProcessEntry& entry) {
  PROCESSENTRY32W record{};
  record.dwSize = sizeof(record);
  if (!read(ToWindows(snapshot), &record)) return false;
  record.szExeFile[MAX_PATH - 1] = L'\0';
  entry.processId = record.th32ProcessID;
  entry.exeFile.assign(reinterpret_cast<const char16_t*>(record.szExeFile));
  return true;
}
}  // namespace

bool Process32FirstW(Handle snapshot, ProcessEntry& entry) { return ReadProcessEntry(::Process32FirstW, snapshot, entry); }

bool Process32NextW(Handle snapshot, ProcessEntry& entry) { return ReadProcessEntry(::Process32NextW, snapshot, entry); }

Handle OpenProcess(std::uint32_t processId) { return FromWindows(::OpenProcess(PROCESS_TERMINATE, FALSE, processId)); }

bool TerminateProcess(Handle process, std::uint32_t exitCode) {
  return ::TerminateProcess(ToWindows(process), exitCode) != FALSE;
}

}  // namespace platform
