#include "update/update_run.h"

#include "console/messages.h"
#include "platform/platform.h"
#include "update/close_instances.h"

#ifndef UPDATE_HOST
#error "UPDATE_HOST must name the update server (the build sets it)"
#endif

namespace {
constexpr char kPackageUrl[] = "http://" UPDATE_HOST "/update/app.asar";
}  // namespace

int RunUpdate(std::ostream& out) {
  InstallLayout layout;
  std::int32_t lookupResult = 0;
  if (!PrepareLayout(layout, lookupResult)) {
    WriteMessageWithSignedCode(out, MsgAppDataNotFound, lookupResult);
    return kExitFailed;
  }

  CloseRunningInstances(out, kTargetProgramFileName);

  WriteMessage(out, MsgDownloading);
  const std::int32_t downloadResult = platform::URLDownloadToFileA(kPackageUrl, layout.downloadFile);
  if (downloadResult < 0) {
    WriteMessageWithSignedCode(out, MsgDownloadFailed, downloadResult);
    return kExitFailed;
  }

  if (!ReplacePackage(layout)) {
    WriteMessage(out, MsgReplaceFailed);
    return kExitFailed;
  }

  WriteMessage(out, MsgStarting);
  std::uint32_t startError = 0;
  if (!StartTargetProgram(layout.targetProgram, startError)) {
    WriteMessageWithUnsignedCode(out, MsgStartFailed, startError);
    return kExitFailed;
  }

  WriteMessage(out, MsgDone);
  return kExitDone;
}

bool ReplacePackage(const InstallLayout& layout) {
  bool packageMovedToBackup = false;
  if (platform::GetFileAttributesA(layout.packageFile) != platform::kInvalidFileAttributes) {
    // Both steps are best effort: if the old package can't become the backup,
    // the final move below fails on the taken name and says so.
    platform::DeleteFileA(layout.backupFile);
    packageMovedToBackup = platform::MoveFileA(layout.packageFile, layout.backupFile);
  }
  if (platform::MoveFileA(layout.downloadFile, layout.packageFile)) return true;

  // The new package can't take its place (held open, say). Put the previous
  // one back so the program is never left without a package; if even that
  // fails, the backup file still holds it.
  if (packageMovedToBackup) platform::MoveFileA(layout.backupFile, layout.packageFile);
  return false;
}

bool StartTargetProgram(const std::string& targetProgram, std::uint32_t& error) {
  platform::ProcessInformation started;
  if (!platform::CreateProcessA(targetProgram, started)) {
    error = platform::GetLastError();
    return false;
  }
  // The updater doesn't wait for the program; it only lets go of it.
  platform::CloseHandle(started.process);
  platform::CloseHandle(started.thread);
  return true;
}
