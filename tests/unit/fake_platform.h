// A fake of the platform seam for the unit tests: an in-memory table of
// files and folders, a process table, scripted results for the AppData
// lookup, the downloads and the start, a stand-in for the signature check,
// and a log of every call.
//
// It behaves as Windows does where the updater relies on it: MoveFileA never
// replaces an existing name and can't rename a held file, DeleteFileA can't
// delete a read-only file, CreateDirectoryA makes one level only,
// CreateProcessA needs the program file, and every call overwrites the last
// error, so a code read late is caught.
#ifndef VELMORA_TESTS_FAKE_PLATFORM_H_
#define VELMORA_TESTS_FAKE_PLATFORM_H_

#include <cstdint>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace fake {

struct Node {
  bool folder = false;
  std::string content;
  bool held = false;  // open elsewhere without delete sharing: can't be renamed or deleted
  bool readOnly = false;
};

struct Lookup {
  std::int32_t result = 0;
  std::string folder;
};

struct Process {
  std::uint32_t id = 0;
  std::u16string exeFile;
  bool openable = true;
  bool running = true;
};

struct Platform {
  std::map<std::string, Node> files;

  // Scripted AppData lookups, one per call; once used up, every lookup
  // answers `defaultLookup`.
  std::deque<Lookup> lookups;
  Lookup defaultLookup{0, "C:\\Users\\u\\AppData\\Roaming"};

  // What the server serves for the package and for its signature (the URL
  // that ends in ".sig"). A download stores the body when the result is not
  // negative, the body fits the download's size limit and the file's folder
  // exists (otherwise it fails as the real download does).
  struct Served {
    std::int32_t result = 0;
    std::string body;
  };
  Served package{0, "new package"};
  Served signature;

  // Download steps the package download reports to its progress callback:
  // bytes received, bytes announced, and the clock (GetTickCount64) when
  // each step is reported.
  struct Step {
    std::uint64_t received = 0;
    std::uint64_t announced = 0;
    std::uint64_t tick = 0;
  };
  std::vector<Step> progressSteps;
  std::uint64_t tick = 0;
  bool console = false;  // standard output is an interactive console

  // The handles the last successful CreateProcessA gave out.
  platform::Handle startedProcess = platform::kNullHandle;
  platform::Handle startedThread = platform::kNullHandle;

  bool snapshotFails = false;
  std::vector<Process> processes;
  std::vector<std::uint32_t> terminated;  // ids, in order

  std::uint32_t lastError = 0;
  std::vector<std::string> calls;
  std::set<platform::Handle> openHandles;
  platform::Handle nextHandle = 0x100;

  // Helpers for setting up and reading the table.
  void AddFolder(const std::string& path) { files[path] = Node{true, "", false}; }
  void AddFile(const std::string& path, const std::string& content, bool held = false, bool readOnly = false) {
    files[path] = Node{false, content, held, readOnly};
  }
  bool Exists(const std::string& path) const { return files.count(path) != 0; }
  // The content of file `path`, or "<none>".
  std::string Content(const std::string& path) const;
};

// The fake's stand-ins for SHA-256 and an ECDSA signature: the signature of
// `content` with `key` verifies with that key over Digest(content) only.
std::string Digest(const std::string& content);
std::string Sign(const std::string& key, const std::string& content);
constexpr std::int32_t kInvalidSignature = static_cast<std::int32_t>(0xD000A000u);  // STATUS_INVALID_SIGNATURE

// The one fake the platform functions act on; reset for each test.
Platform& State();
void Reset();

}  // namespace fake

#endif  // VELMORA_TESTS_FAKE_PLATFORM_H_
