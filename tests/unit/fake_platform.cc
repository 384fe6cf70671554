#include "fake_platform.h"

#include <string_view>

#include "platform/download_answer.h"

namespace fake {
namespace {

constexpr std::uint32_t kErrorFileNotFound = 2;
constexpr std::uint32_t kErrorPathNotFound = 3;
constexpr std::uint32_t kErrorAccessDenied = 5;
constexpr std::uint32_t kErrorInvalidHandle = 6;
constexpr std::uint32_t kErrorSharingViolation = 32;
constexpr std::uint32_t kErrorAlreadyExists = 183;
constexpr std::uint32_t kErrorNoMoreFiles = 18;
constexpr std::int32_t kHresultFileNotFound = static_cast<std::int32_t>(0x80070002u);
constexpr std::int32_t kHresultPathNotFound = static_cast<std::int32_t>(0x80070003u);

Platform* current = new Platform();

// Open process handles and the process id each one stands for.
std::map<platform::Handle, std::uint32_t> processHandles;

std::string ParentOf(const std::string& path) {
  const auto slash = path.rfind('\\');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

bool ParentIsFolder(const std::string& path) {
  const auto parent = current->files.find(ParentOf(path));
  return parent != current->files.end() && parent->second.folder;
}

// Records a call and its outcome in the last error, as every Windows call
// here may do.
bool Outcome(bool ok, std::uint32_t error) {
  current->lastError = ok ? 0 : error;
  return ok;
}

platform::Handle Open() {
  const platform::Handle handle = current->nextHandle++;
  current->openHandles.insert(handle);
  return handle;
}

// Snapshot state: a copy of the process table and a read position.
std::map<platform::Handle, std::pair<std::vector<Process>, std::size_t>> snapshots;

bool ReadEntry(platform::Handle snapshot, platform::ProcessEntry& entry, bool first) {
  auto found = snapshots.find(snapshot);
  if (found == snapshots.end()) return Outcome(false, kErrorInvalidHandle);
  auto& [list, position] = found->second;
  if (first) position = 0;
  if (position >= list.size()) return Outcome(false, kErrorNoMoreFiles);
  entry.processId = list[position].id;
  entry.exeFile = list[position].exeFile;
  ++position;
  return Outcome(true, 0);
}

}  // namespace

std::string Platform::Content(const std::string& path) const {
  const auto found = files.find(path);
  return found == files.end() || found->second.folder ? "<none>" : found->second.content;
}

std::string Digest(const std::string& content) { return "sha256(" + content + ")"; }

namespace {

std::string SignatureOver(std::string_view key, const std::string& digest) {
  return "signature(" + std::string(key) + ", " + digest + ")";
}

}  // namespace

std::string Sign(const std::string& key, const std::string& content) { return SignatureOver(key, Digest(content)); }

Platform& State() { return *current; }

void Reset() {
  delete current;
  current = new Platform();
  snapshots.clear();
  processHandles.clear();
}

}  // namespace fake

namespace platform {

using fake::Outcome;

std::int32_t SHGetFolderPathA(std::string& folder) {
  auto& state = fake::State();
  fake::Lookup lookup = state.defaultLookup;
  if (!state.lookups.empty()) {
    lookup = state.lookups.front();
    state.lookups.pop_front();
  }
  state.calls.push_back("SHGetFolderPathA");
  Outcome(lookup.result >= 0, 0);
  folder = lookup.result < 0 ? std::string() : lookup.folder;
  return lookup.result;
}

std::uint32_t GetFileAttributesA(const std::string& path) {
  auto& state = fake::State();
  state.calls.push_back("GetFileAttributesA " + path);
  const auto found = state.files.find(path);
  if (!Outcome(found != state.files.end(), fake::kErrorFileNotFound)) return kInvalidFileAttributes;
  if (found->second.folder) return 0x10u;  // FILE_ATTRIBUTE_DIRECTORY
  return found->second.readOnly ? kFileAttributeReadonly : 0x80u;  // FILE_ATTRIBUTE_NORMAL
}

bool SetFileAttributesA(const std::string& path, std::uint32_t attributes) {
  auto& state = fake::State();
  state.calls.push_back("SetFileAttributesA " + path + " " + std::to_string(attributes));
  const auto found = state.files.find(path);
  if (!Outcome(found != state.files.end(), fake::kErrorFileNotFound)) return false;
  found->second.readOnly = (attributes & kFileAttributeReadonly) != 0;
  return true;
}

bool CreateDirectoryA(const std::string& path) {
  auto& state = fake::State();
  state.calls.push_back("CreateDirectoryA " + path);
  if (state.Exists(path)) return Outcome(false, fake::kErrorAlreadyExists);
  if (!fake::ParentIsFolder(path)) return Outcome(false, fake::kErrorPathNotFound);
  state.AddFolder(path);
  return Outcome(true, 0);
}

bool DeleteFileA(const std::string& path) {
  auto& state = fake::State();
  state.calls.push_back("DeleteFileA " + path);
  const auto found = state.files.find(path);
  if (found == state.files.end()) return Outcome(false, fake::kErrorFileNotFound);
  if (found->second.folder) return Outcome(false, fake::kErrorAccessDenied);
  if (found->second.held) return Outcome(false, fake::kErrorSharingViolation);
  if (found->second.readOnly) return Outcome(false, fake::kErrorAccessDenied);
  state.files.erase(found);
  return Outcome(true, 0);
}

bool MoveFileA(const std::string& from, const std::string& to) {
  auto& state = fake::State();
  state.calls.push_back("MoveFileA " + from + " -> " + to);
  const auto found = state.files.find(from);
  if (found == state.files.end()) return Outcome(false, fake::kErrorFileNotFound);
  if (state.Exists(to)) return Outcome(false, fake::kErrorAlreadyExists);
  if (found->second.held) return Outcome(false, fake::kErrorSharingViolation);
  if (!fake::ParentIsFolder(to)) return Outcome(false, fake::kErrorPathNotFound);
  state.files[to] = found->second;
  state.files.erase(from);
  return Outcome(true, 0);
}

std::int32_t URLDownloadToFileA(const char* url, const std::string& file, std::uint64_t maxBytes,
                                const DownloadProgress& progress) {
  auto& state = fake::State();
  const std::string address(url);
  state.calls.push_back("URLDownloadToFileA " + address + " -> " + file);
  Outcome(true, 0);
  const bool isSignature = address.size() > 4 && address.compare(address.size() - 4, 4, ".sig") == 0;
  const auto& served = isSignature ? state.signature : state.package;
  if (!isSignature && progress) {
    for (const auto& step : state.progressSteps) {
      state.tick = step.tick;
      progress(step.received, step.announced);
    }
  }
  if (served.result < 0) return served.result;
  if (served.body.size() > maxBytes) return kFileTooLarge;
  if (!fake::ParentIsFolder(file)) return fake::kHresultPathNotFound;
  // A file held open with write sharing is written through; it stays held.
  const bool held = state.Exists(file) && state.files[file].held;
  state.AddFile(file, served.body, held);
  return served.result;
}

std::int32_t ReadFile(const std::string& path, std::string& content, std::size_t maxBytes) {
  auto& state = fake::State();
  state.calls.push_back("ReadFile " + path);
  content.clear();
  const auto found = state.files.find(path);
  if (found == state.files.end() || found->second.folder) return fake::kHresultFileNotFound;
  if (found->second.content.size() > maxBytes) return kFileTooLarge;
  content = found->second.content;
  return 0;
}

std::int32_t BCryptHashData(const std::string& file, std::string& digest) {
  auto& state = fake::State();
  state.calls.push_back("BCryptHashData " + file);
  const auto found = state.files.find(file);
  if (found == state.files.end() || found->second.folder) return fake::kHresultFileNotFound;
  digest = fake::Digest(found->second.content);
  return 0;
}

std::int32_t BCryptVerifySignature(std::string_view publicKey, const std::string& digest,
                                   const std::string& signature) {
  auto& state = fake::State();
  state.calls.push_back("BCryptVerifySignature");
  return signature == fake::SignatureOver(publicKey, digest) ? 0 : fake::kInvalidSignature;
}

bool GetConsoleMode() {
  auto& state = fake::State();
  state.calls.push_back("GetConsoleMode");
  return Outcome(state.console, fake::kErrorInvalidHandle);
}

std::uint64_t GetTickCount64() { return fake::State().tick; }

bool CreateProcessA(const std::string& application, ProcessInformation& info) {
  auto& state = fake::State();
  state.calls.push_back("CreateProcessA " + application);
  const auto found = state.files.find(application);
  if (found == state.files.end() || found->second.folder) {
    return Outcome(false, fake::ParentIsFolder(application) ? fake::kErrorFileNotFound : fake::kErrorPathNotFound);
  }
  info.process = fake::Open();
  info.thread = fake::Open();
  state.startedProcess = info.process;
  state.startedThread = info.thread;
  return Outcome(true, 0);
}

std::uint32_t GetLastError() {
  auto& state = fake::State();
  state.calls.push_back("GetLastError");
  return state.lastError;
}

bool CloseHandle(Handle handle) {
  auto& state = fake::State();
  state.calls.push_back("CloseHandle " + std::to_string(handle));
  fake::snapshots.erase(handle);
  fake::processHandles.erase(handle);
  return Outcome(state.openHandles.erase(handle) == 1, fake::kErrorInvalidHandle);
}

Handle CreateToolhelp32Snapshot() {
  auto& state = fake::State();
  state.calls.push_back("CreateToolhelp32Snapshot");
  if (!Outcome(!state.snapshotFails, fake::kErrorAccessDenied)) return kInvalidHandleValue;
  const Handle snapshot = fake::Open();
  std::vector<fake::Process> running;
  for (const auto& process : state.processes) {
    if (process.running) running.push_back(process);
  }
  fake::snapshots[snapshot] = {running, 0};
  return snapshot;
}

bool Process32FirstW(Handle snapshot, ProcessEntry& entry) {
  fake::State().calls.push_back("Process32FirstW");
  return fake::ReadEntry(snapshot, entry, true);
}

bool Process32NextW(Handle snapshot, ProcessEntry& entry) {
  fake::State().calls.push_back("Process32NextW");
  return fake::ReadEntry(snapshot, entry, false);
}

Handle OpenProcess(std::uint32_t processId) {
  auto& state = fake::State();
  state.calls.push_back("OpenProcess " + std::to_string(processId));
  for (const auto& process : state.processes) {
    if (process.id == processId && process.running) {
      if (!Outcome(process.openable, fake::kErrorAccessDenied)) return kNullHandle;
      const Handle handle = fake::Open();
      fake::processHandles[handle] = processId;
      return handle;
    }
  }
  Outcome(false, 87);  // ERROR_INVALID_PARAMETER: no such process
  return kNullHandle;
}

bool TerminateProcess(Handle process, std::uint32_t exitCode) {
  auto& state = fake::State();
  state.calls.push_back("TerminateProcess " + std::to_string(process) + " " + std::to_string(exitCode));
  const auto found = fake::processHandles.find(process);
  if (!Outcome(found != fake::processHandles.end(), fake::kErrorInvalidHandle)) return false;
  for (auto& entry : state.processes) {
    if (entry.id == found->second && entry.running) {
      entry.running = false;
      state.terminated.push_back(entry.id);
    }
  }
  return true;
}

}  // namespace platform
