// The Windows side of the platform seam; the only file of the updater that
// includes <windows.h>.
#include "platform/platform.h"

#include <windows.h>
#include <bcrypt.h>
#include <shlobj.h>
#include <tlhelp32.h>
#include <urlmon.h>
#include <wincrypt.h>

#include <vector>

#include "platform/download_answer.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "process names cross the seam as UTF-16 code units");
#ifndef _WIN64
// The record sizes the 32-bit release depends on; x86_64 has larger ones.
static_assert(sizeof(STARTUPINFOA) == 68, "STARTUPINFOA is 68 bytes in the 32-bit build");
static_assert(sizeof(PROCESSENTRY32W) == 556, "PROCESSENTRY32W is 556 bytes in the 32-bit build");
#endif

namespace {

HANDLE ToWindows(platform::Handle handle) { return reinterpret_cast<HANDLE>(handle); }
platform::Handle FromWindows(HANDLE handle) { return reinterpret_cast<platform::Handle>(handle); }

// Watches one URLDownloadToFileA call. On its own the call reports success for
// an error page, for a body cut short and for a file it could not store, so
// the download records what the server answered and how many bytes arrived,
// and decides after the call returns. It lives on the caller's stack for the
// length of that one blocking call; reference counting is therefore inert.
class DownloadWatch final : public IBindStatusCallback, public IHttpNegotiate {
 public:
  DownloadWatch(std::uint64_t maxBytes, const platform::DownloadProgress& progress)
      : maxBytes_(maxBytes), progress_(progress) {}

  platform::DownloadAnswer answer;

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
    if (statusCode != BINDSTATUS_BEGINDOWNLOADDATA && statusCode != BINDSTATUS_DOWNLOADINGDATA &&
        statusCode != BINDSTATUS_ENDDOWNLOADDATA) {
      return S_OK;
    }
    answer.bytesReceived = progress;
    answer.bytesAnnounced = progressMax;
    // More than the caller takes is never going to be accepted: stop here
    // rather than fill the disk. The verdict comes after the call returns.
    if (answer.bytesReceived > maxBytes_) return E_ABORT;
    if (progress_) progress_(answer.bytesReceived, answer.bytesAnnounced);
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
  STDMETHODIMP OnResponse(DWORD status, LPCWSTR responseHeaders, LPCWSTR, LPWSTR* additionalHeaders) override {
    // The answer is judged after the call returns: Wine ignores an error
    // returned from here.
    answer.httpStatus = status;
    answer.responseHeaders =
        responseHeaders != nullptr ? std::u16string(reinterpret_cast<const char16_t*>(responseHeaders)) : u"";
    if (additionalHeaders != nullptr) *additionalHeaders = nullptr;
    return S_OK;
  }

 private:
  const std::uint64_t maxBytes_;
  const platform::DownloadProgress& progress_;
};

// Checks that `file` holds the bytes that arrived and flushes it to disk, so
// a power loss after the package is moved into place can't leave it empty.
HRESULT VerifyAndFlush(const std::string& file, std::uint64_t bytesReceived) {
  const HANDLE handle = ::CreateFileA(file.c_str(), GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return HRESULT_FROM_WIN32(::GetLastError());

  LARGE_INTEGER size{};
  HRESULT result = S_OK;
  if (!::GetFileSizeEx(handle, &size)) {
    result = HRESULT_FROM_WIN32(::GetLastError());
  } else if (static_cast<ULONGLONG>(size.QuadPart) != bytesReceived) {
    result = INET_E_DOWNLOAD_FAILURE;
  } else if (!::FlushFileBuffers(handle)) {
    result = HRESULT_FROM_WIN32(::GetLastError());
  }
  ::CloseHandle(handle);
  return result;
}

HRESULT FromNtStatus(NTSTATUS status) { return status == 0 ? S_OK : HRESULT_FROM_NT(status); }

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

bool SetFileAttributesA(const std::string& path, std::uint32_t attributes) {
  return ::SetFileAttributesA(path.c_str(), attributes) != FALSE;
}

bool DeleteFileA(const std::string& path) { return ::DeleteFileA(path.c_str()) != FALSE; }

bool MoveFileA(const std::string& from, const std::string& to) {
  return ::MoveFileA(from.c_str(), to.c_str()) != FALSE;
}

std::int32_t URLDownloadToFileA(const char* url, const std::string& file, std::uint64_t maxBytes,
                                const DownloadProgress& progress) {
  const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  DownloadWatch watch(maxBytes, progress);
  HRESULT result = ::URLDownloadToFileA(nullptr, url, file.c_str(), 0, &watch);
  // A download stopped for its size fails (E_ABORT) on Windows but reports
  // success under Wine; either way the answer's verdict names the reason.
  if (result >= 0 || watch.answer.bytesReceived > maxBytes) {
    result = JudgeAnswer(watch.answer, maxBytes);
    if (result >= 0) result = VerifyAndFlush(file, watch.answer.bytesReceived);
  }
  if (SUCCEEDED(com)) ::CoUninitialize();
  return result;
}

std::int32_t ReadFile(const std::string& path, std::string& content, std::size_t maxBytes) {
  content.clear();
  const HANDLE handle = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return HRESULT_FROM_WIN32(::GetLastError());
  HRESULT result = S_OK;
  char buffer[4096];
  DWORD got = 0;
  while (result == S_OK) {
    if (!::ReadFile(handle, buffer, sizeof buffer, &got, nullptr)) {
      result = HRESULT_FROM_WIN32(::GetLastError());
    } else if (got == 0) {
      break;
    } else if (content.size() + got > maxBytes) {
      result = HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
    } else {
      content.append(buffer, got);
    }
  }
  ::CloseHandle(handle);
  if (result != S_OK) content.clear();
  return result;
}

std::int32_t BCryptHashData(const std::string& file, std::string& digest) {
  digest.clear();
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  NTSTATUS status = ::BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0);
  if (status != 0) return FromNtStatus(status);

  // The hash object's memory is the caller's to give on Windows 7.
  DWORD objectLength = 0, got = 0;
  std::vector<UCHAR> object;
  BCRYPT_HASH_HANDLE hash = nullptr;
  status = ::BCryptGetProperty(algorithm, BCRYPT_OBJECT_LENGTH, reinterpret_cast<PUCHAR>(&objectLength),
                               sizeof objectLength, &got, 0);
  if (status == 0) {
    object.resize(objectLength);
    status = ::BCryptCreateHash(algorithm, &hash, object.data(), objectLength, nullptr, 0, 0);
  }
  HRESULT result = FromNtStatus(status);

  HANDLE handle = INVALID_HANDLE_VALUE;
  if (result == S_OK) {
    handle = ::CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (handle == INVALID_HANDLE_VALUE) result = HRESULT_FROM_WIN32(::GetLastError());
  }
  if (result == S_OK) {
    // A package of any size is hashed in a buffer of 1 MB.
    std::vector<UCHAR> buffer(1 << 20);
    DWORD read = 0;
    while (result == S_OK) {
      if (!::ReadFile(handle, buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr)) {
        result = HRESULT_FROM_WIN32(::GetLastError());
      } else if (read == 0) {
        break;
      } else {
        result = FromNtStatus(::BCryptHashData(hash, buffer.data(), read, 0));
      }
    }
  }
  if (result == S_OK) {
    UCHAR sha256[32];
    result = FromNtStatus(::BCryptFinishHash(hash, sha256, sizeof sha256, 0));
    if (result == S_OK) digest.assign(reinterpret_cast<const char*>(sha256), sizeof sha256);
  }
  if (handle != INVALID_HANDLE_VALUE) ::CloseHandle(handle);
  if (hash != nullptr) ::BCryptDestroyHash(hash);
  ::BCryptCloseAlgorithmProvider(algorithm, 0);
  return result;
}

std::int32_t BCryptVerifySignature(std::string_view publicKey, const std::string& digest,
                                   const std::string& signature) {
  // The key: DER SubjectPublicKeyInfo, imported for CNG.
  CERT_PUBLIC_KEY_INFO* keyInfo = nullptr;
  DWORD size = 0;
  if (!::CryptDecodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO,
                             reinterpret_cast<const BYTE*>(publicKey.data()), static_cast<DWORD>(publicKey.size()),
                             CRYPT_DECODE_ALLOC_FLAG, nullptr, &keyInfo, &size)) {
    return HRESULT_FROM_WIN32(::GetLastError());
  }
  BCRYPT_KEY_HANDLE key = nullptr;
  const BOOL imported = ::CryptImportPublicKeyInfoEx2(X509_ASN_ENCODING, keyInfo, 0, nullptr, &key);
  const DWORD importError = ::GetLastError();
  ::LocalFree(keyInfo);
  if (!imported) return HRESULT_FROM_WIN32(importError);

  // The signature: DER SEQUENCE { r, s }. Crypt32 gives r and s as
  // little-endian integers without leading zeros; CNG wants r || s, each
  // big-endian in 32 bytes.
  CERT_ECC_SIGNATURE* ecc = nullptr;
  HRESULT result = S_OK;
  if (!::CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ECC_SIGNATURE,
                             reinterpret_cast<const BYTE*>(signature.data()), static_cast<DWORD>(signature.size()),
                             CRYPT_DECODE_ALLOC_FLAG, nullptr, &ecc, &size)) {
    result = HRESULT_FROM_WIN32(::GetLastError());
  } else {
    UCHAR rs[64] = {};
    if (ecc->r.cbData > 32 || ecc->s.cbData > 32) {
      result = NTE_BAD_SIGNATURE;
    } else {
      for (DWORD i = 0; i < ecc->r.cbData; ++i) rs[31 - i] = ecc->r.pbData[i];
      for (DWORD i = 0; i < ecc->s.cbData; ++i) rs[63 - i] = ecc->s.pbData[i];
      result = FromNtStatus(::BCryptVerifySignature(
          key, nullptr, reinterpret_cast<PUCHAR>(const_cast<char*>(digest.data())), static_cast<ULONG>(digest.size()),
          rs, sizeof rs, 0));
    }
    ::LocalFree(ecc);
  }
  ::BCryptDestroyKey(key);
  return result;
}

bool GetConsoleMode() {
  DWORD mode = 0;
  return ::GetConsoleMode(::GetStdHandle(STD_OUTPUT_HANDLE), &mode) != FALSE;
}

std::uint64_t GetTickCount64() { return ::GetTickCount64(); }

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
