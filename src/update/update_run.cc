#include "update/update_run.h"

#include "console/messages.h"
#include "console/progress.h"
#include "platform/platform.h"
#include "update/close_instances.h"

#ifndef UPDATE_HOST
#error "UPDATE_HOST must name the update server (the build sets it)"
#endif

namespace {

// A package installed read-only (copied from read-only media, or from an
// archive that keeps attributes) stays read-only as the backup, and then
// refuses deletion on every later run - and with it every later update.
void ClearReadOnly(const std::string& path) {
  const std::uint32_t attributes = platform::GetFileAttributesA(path);
  if (attributes == platform::kInvalidFileAttributes || (attributes & platform::kFileAttributeReadonly) == 0) return;
  const std::uint32_t cleared = attributes & ~platform::kFileAttributeReadonly;
  platform::SetFileAttributesA(path, cleared != 0 ? cleared : platform::kFileAttributeNormal);
}

constexpr char kPackageUrl[] = "http://" UPDATE_HOST "/update/app.asar";
constexpr char kSignatureUrl[] = "http://" UPDATE_HOST "/update/app.asar.sig";

constexpr std::uint64_t kAnySize = ~std::uint64_t{0};
// A DER-encoded ECDSA P-256 signature takes at most 72 bytes; anything much
// longer is not one, and is not worth reading.
constexpr std::size_t kMaxSignatureBytes = 512;

}  // namespace

int RunUpdate(std::ostream& out, std::string_view publicKey) {
  InstallLayout layout;
  std::int32_t lookupResult = 0;
  if (!PrepareLayout(layout, lookupResult)) {
    WriteMessageWithSignedCode(out, MsgAppDataNotFound, lookupResult);
    return kExitFailed;
  }

  CloseRunningInstances(out, kTargetProgramFileName);

  WriteMessage(out, MsgDownloading);
  const std::int32_t downloadResult = DownloadPackage(out, layout.downloadFile);
  if (downloadResult < 0) {
    WriteMessageWithSignedCode(out, MsgDownloadFailed, downloadResult);
    return kExitFailed;
  }

  if (!publicKey.empty()) {
    const Verdict verdict = VerifyPackage(layout, publicKey);
    if (verdict.failureMessage != nullptr) {
      WriteMessageWithSignedCode(out, verdict.failureMessage, verdict.code);
      return kExitFailed;
    }
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

std::int32_t DownloadPackage(std::ostream& out, const std::string& downloadFile) {
  // Output that goes to a file or a pipe gets the message lines alone.
  if (!platform::GetConsoleMode()) return platform::URLDownloadToFileA(kPackageUrl, downloadFile, kAnySize, nullptr);

  ProgressLine progress(out);
  const std::int32_t result = platform::URLDownloadToFileA(
      kPackageUrl, downloadFile, kAnySize, [&progress](std::uint64_t received, std::uint64_t announced) {
        progress.Update(received, announced, platform::GetTickCount64());
      });
  progress.Erase();
  return result;
}

Verdict VerifyPackage(const InstallLayout& layout, std::string_view publicKey) {
  std::string signature;
  std::int32_t result = platform::URLDownloadToFileA(kSignatureUrl, layout.signatureFile, kMaxSignatureBytes, nullptr);
  if (result >= 0) result = platform::ReadFile(layout.signatureFile, signature, kMaxSignatureBytes);
  // From here on the signature is held in memory only.
  platform::DeleteFileA(layout.signatureFile);

  Verdict verdict;
  if (result < 0) {
    verdict = {MsgDownloadFailed, result};
  } else {
    std::string digest;
    result = platform::BCryptHashData(layout.downloadFile, digest);
    // Only an explicit success verifies; any other code is a refusal.
    if (result == 0) result = platform::BCryptVerifySignature(publicKey, digest, signature);
    if (result != 0) verdict = {MsgVerifyFailed, result};
  }
  // An unverified package doesn't stay in the resources folder.
  if (verdict.failureMessage != nullptr) platform::DeleteFileA(layout.downloadFile);
  return verdict;
}

bool ReplacePackage(const InstallLayout& layout) {
  bool packageMovedToBackup = false;
  if (platform::GetFileAttributesA(layout.packageFile) != platform::kInvalidFileAttributes) {
    // Both steps are best effort: if the old package can't become the backup,
    // the final move below fails on the taken name and says so.
    ClearReadOnly(layout.backupFile);
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
