// The install layout: every folder and file the updater works on lies under
// the user's roaming AppData folder.
//
//   <AppData>\vlmr                         data folder (only made sure of)
//   <AppData>\tavlmr\Velmora.exe           target program
//   <AppData>\tavlmr\resources\app.asar    package file
//   <AppData>\tavlmr\resources\app.bak     backup file
//   <AppData>\tavlmr\resources\app.tmp     download file
//   <AppData>\tavlmr\resources\app.sig     signature file (signed builds; removed as soon as it is read)
//
// Paths are narrow strings in the ANSI code page, joined with one backslash.
#ifndef VELMORA_LAYOUT_LAYOUT_H_
#define VELMORA_LAYOUT_LAYOUT_H_

#include <cstdint>
#include <string>

// The target program's file name, matched against running processes.
constexpr char kTargetProgramFileName[] = "Velmora.exe";

// The paths the update run uses from preparation to exit.
struct InstallLayout {
  std::string resourcesFolder;
  std::string packageFile;
  std::string backupFile;
  std::string downloadFile;
  std::string signatureFile;
  std::string targetProgram;
};

// The AppData folder, one backslash, then `tail`. Asks the platform on every
// call. Returns an empty path when the folder can't be resolved: a negative
// result, or a success that left the buffer empty. `lookupResult` receives
// the platform's result code either way.
std::string AppDataPath(const std::string& tail, std::int32_t& lookupResult);

// Creates `path` (one level, default security) if nothing has that name yet.
// A failed creation is not reported: later phases meet the missing folder.
void EnsureFolder(const std::string& path);

// Builds the layout's paths and makes sure the data and resources folders
// exist. Returns false as soon as an AppData lookup fails, with that lookup's
// result code in `lookupResult`; no file has been touched then.
bool PrepareLayout(InstallLayout& layout, std::int32_t& lookupResult);

#endif  // VELMORA_LAYOUT_LAYOUT_H_
