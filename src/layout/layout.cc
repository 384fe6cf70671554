#include "layout/layout.h"

#include "platform/platform.h"

std::string AppDataPath(const std::string& tail, std::int32_t& lookupResult) {
  std::string folder;
  lookupResult = platform::SHGetFolderPathA(folder);
  // A success with nothing in the buffer would put every path at the root of
  // the current drive; treat it as the failure it is.
  if (lookupResult < 0 || folder.empty()) return std::string();
  // The separator is appended as is: a folder that already ends in a
  // backslash gets a second one, which Windows accepts.
  return folder + '\\' + tail;
}

void EnsureFolder(const std::string& path) {
  if (platform::GetFileAttributesA(path) == platform::kInvalidFileAttributes) {
    platform::CreateDirectoryA(path);
  }
}

bool PrepareLayout(InstallLayout& layout, std::int32_t& lookupResult) {
  layout.resourcesFolder = AppDataPath("tavlmr\\resources", lookupResult);
  if (layout.resourcesFolder.empty()) return false;
  {
    const std::string dataFolder = AppDataPath("vlmr", lookupResult);
    if (dataFolder.empty()) return false;
    EnsureFolder(dataFolder);
  }
  EnsureFolder(layout.resourcesFolder);
  layout.packageFile = layout.resourcesFolder + "\\app.asar";
  layout.backupFile = layout.resourcesFolder + "\\app.bak";
  layout.downloadFile = layout.resourcesFolder + "\\app.tmp";
  layout.signatureFile = layout.resourcesFolder + "\\app.sig";
  layout.targetProgram = AppDataPath(std::string("tavlmr\\") + kTargetProgramFileName, lookupResult);
  return !layout.targetProgram.empty();
}
