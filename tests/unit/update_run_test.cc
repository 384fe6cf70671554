#include "update/update_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "console/messages.h"
#include "fake_platform.h"
#include "test_support.h"

namespace {

const std::string kAppData = "C:\\Users\\u\\AppData\\Roaming";
const std::string kInstall = kAppData + "\\tavlmr";
const std::string kResources = kInstall + "\\resources";
const std::string kProgram = kInstall + "\\Velmora.exe";
const std::string kPackage = kResources + "\\app.asar";
const std::string kBackup = kResources + "\\app.bak";
const std::string kDownload = kResources + "\\app.tmp";
const std::string kSignature = kResources + "\\app.sig";
const std::string kNone = "<none>";

std::string Line(const char* message) { return std::string(message) + "\n"; }

struct Files {
  std::string package = kNone;
  std::string backup = kNone;
  std::string download = kNone;
};

struct RunCase {
  const char* name;
  Files before;
  bool packageHeld = false;
  bool downloadHeld = false;
  bool programInstalled = true;
  std::int32_t downloadResult = 0;
  std::deque<fake::Lookup> lookups;
  // Expected:
  std::string output;
  int exitStatus;
  Files after;
  bool started;
  bool readOnly = false;  // the package and the backup carry the read-only attribute
};

void Install(const RunCase& c) {
  fake::Reset();
  auto& state = fake::State();
  state.AddFolder(kAppData);
  state.AddFolder(kInstall);
  state.AddFolder(kResources);
  if (c.programInstalled) state.AddFile(kProgram, "program");
  if (c.before.package != kNone) state.AddFile(kPackage, c.before.package, c.packageHeld, c.readOnly);
  if (c.before.backup != kNone) state.AddFile(kBackup, c.before.backup, false, c.readOnly);
  if (c.before.download != kNone) state.AddFile(kDownload, c.before.download, c.downloadHeld);
  state.package.result = c.downloadResult;
  state.lookups = c.lookups;
}

bool Called(const std::string& call) {
  const auto& calls = fake::State().calls;
  return std::find(calls.begin(), calls.end(), call) != calls.end();
}

TEST(UpdateRun, EachEndOfTheRunWithItsLinesExitStatusAndFiles) {
  const std::string closing = Line(MsgClosing), downloading = Line(MsgDownloading), starting = Line(MsgStarting);
  const RunCase cases[] = {
      {"done, replacing a package and its backup, over a stale download file",
       {"old", "older", "stale"}, false, false, true, 0, {},
       closing + downloading + starting + Line(MsgDone), kExitDone,
       {"new package", "old", kNone}, true},
      {"done, no package yet: the old backup is left alone",
       {kNone, "older", kNone}, false, false, true, 0, {},
       closing + downloading + starting + Line(MsgDone), kExitDone,
       {"new package", "older", kNone}, true},
      {"download failed: nothing else is touched",
       {"old", "older", kNone}, false, false, true, -2145844844, {},
       closing + downloading + MsgDownloadFailed + "-2145844844\n", kExitFailed,
       {"old", "older", kNone}, false},
      {"replacement failed: the package is held and can't become the backup",
       {"old", "older", kNone}, true, false, true, 0, {},
       closing + downloading + Line(MsgReplaceFailed), kExitFailed,
       {"old", kNone, "new package"}, false},
      {"replacement failed after the package became the backup: it is moved back",
       {"old", "older", "stale"}, false, true, true, 0, {},
       closing + downloading + Line(MsgReplaceFailed), kExitFailed,
       {"old", kNone, "new package"}, false},
      {"replacement failed with no package: the backup is untouched",
       {kNone, "older", "stale"}, false, true, true, 0, {},
       closing + downloading + Line(MsgReplaceFailed), kExitFailed,
       {kNone, "older", "new package"}, false},
      {"done, over a read-only package and a read-only backup from an earlier update",
       {"old", "older", kNone}, false, false, true, 0, {},
       closing + downloading + starting + Line(MsgDone), kExitDone,
       {"new package", "old", kNone}, true, true},
      {"start failed: the program is missing",
       {"old", kNone, kNone}, false, false, false, 0, {},
       closing + downloading + starting + MsgStartFailed + "2\n", kExitFailed,
       {"new package", "old", kNone}, false},
      {"AppData folder unresolved: nothing is touched",
       {"old", "older", kNone}, false, false, true, 0, {{static_cast<std::int32_t>(0x80070005u), ""}},
       std::string(MsgAppDataNotFound) + "-2147024891\n", kExitFailed,
       {"old", "older", kNone}, false},
      {"AppData lookup succeeds with an empty folder",
       {"old", "older", kNone}, false, false, true, 0, {{0, ""}},
       std::string(MsgAppDataNotFound) + "0\n", kExitFailed,
       {"old", "older", kNone}, false},
  };

  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Install(c);
    std::ostringstream out;
    EXPECT_EQ(RunUpdate(out, ""), c.exitStatus);
    EXPECT_EQ(out.str(), c.output);

    auto& state = fake::State();
    EXPECT_EQ(state.Content(kPackage), c.after.package);
    EXPECT_EQ(state.Content(kBackup), c.after.backup);
    EXPECT_EQ(state.Content(kDownload), c.after.download);
    const bool startAttempted = c.output.find(MsgStarting) != std::string::npos;
    EXPECT_EQ(Called("CreateProcessA " + kProgram), startAttempted);
    EXPECT_TRUE(state.openHandles.empty()) << "a handle was left open";
    if (c.started) {
      const std::vector<std::string> tail(state.calls.end() - 2, state.calls.end());
      EXPECT_EQ(tail, (std::vector<std::string>{"CloseHandle " + std::to_string(state.startedProcess),
                                                "CloseHandle " + std::to_string(state.startedThread)}));
    }
    if (c.downloadResult < 0 || !c.lookups.empty()) {
      // Nothing may be moved, deleted or started after the run has failed.
      for (const auto& call : state.calls) {
        EXPECT_EQ(call.rfind("MoveFileA", 0), std::string::npos) << call;
        EXPECT_EQ(call.rfind("DeleteFileA", 0), std::string::npos) << call;
      }
    }
    if (!c.lookups.empty()) {
      EXPECT_EQ(state.calls, std::vector<std::string>{"SHGetFolderPathA"});
    }
    // Only a read-only backup that is about to be deleted loses its attribute.
    for (const auto& call : state.calls) {
      if (call.rfind("SetFileAttributesA", 0) == 0) {
        EXPECT_EQ(call, "SetFileAttributesA " + kBackup + " 128");
      }
    }
    if (c.readOnly && c.started) {
      EXPECT_TRUE(Called("SetFileAttributesA " + kBackup + " 128"));
      EXPECT_TRUE(state.files[kBackup].readOnly) << "the previous package keeps its attribute";
    }
    // A build without a key asks for the package alone.
    for (const auto& call : state.calls) EXPECT_EQ(call.find(".sig"), std::string::npos) << call;

    // The same run with standard output failing ends the same way.
    Install(c);
    FailingBuffer failing;
    std::ostream broken(&failing);
    EXPECT_EQ(RunUpdate(broken, ""), c.exitStatus);
    EXPECT_TRUE(broken.bad());
    EXPECT_EQ(state.Content(kPackage), c.after.package);
    EXPECT_EQ(state.Content(kBackup), c.after.backup);
    EXPECT_EQ(state.Content(kDownload), c.after.download);
  }
}

TEST(UpdateRun, ASignedBuildInstallsOnlyAPackageWhoseSignatureVerifies) {
  const std::string key = "publisher key";
  const std::string closing = Line(MsgClosing), downloading = Line(MsgDownloading), starting = Line(MsgStarting);
  const struct {
    const char* name;
    fake::Platform::Served signature;
    std::string output;
    bool verified;
  } cases[] = {
      {"a good signature", {0, fake::Sign(key, "new package")},
       closing + downloading + starting + Line(MsgDone), true},
      {"the signature of another package, such as an earlier one", {0, fake::Sign(key, "old package")},
       closing + downloading + MsgVerifyFailed + "-805265408\n", false},
      {"another key's signature", {0, fake::Sign("another key", "new package")},
       closing + downloading + MsgVerifyFailed + "-805265408\n", false},
      {"garbage as the signature", {0, "<html>sign in</html>"},
       closing + downloading + MsgVerifyFailed + "-805265408\n", false},
      {"no signature on the server", {-2145844844, ""},
       closing + downloading + MsgDownloadFailed + "-2145844844\n", false},
      {"a signature file far larger than a signature", {0, std::string(513, 'x')},
       closing + downloading + MsgDownloadFailed + "-2147024673\n", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Install({"signed", {"old", "older", kNone}});
    auto& state = fake::State();
    state.signature = c.signature;
    std::ostringstream out;
    EXPECT_EQ(RunUpdate(out, key), c.verified ? kExitDone : kExitFailed);
    EXPECT_EQ(out.str(), c.output);

    EXPECT_EQ(state.Content(kPackage), c.verified ? "new package" : "old");
    EXPECT_EQ(state.Content(kBackup), c.verified ? "old" : "older");
    // Neither an unverified package nor the signature stays behind.
    EXPECT_FALSE(state.Exists(kDownload));
    EXPECT_FALSE(state.Exists(kSignature));
    EXPECT_EQ(Called("CreateProcessA " + kProgram), c.verified);
    EXPECT_TRUE(Called("URLDownloadToFileA http://" UPDATE_HOST "/update/app.asar.sig -> " + kSignature));

    // The signature is checked before anything of the install is touched.
    const auto& calls = state.calls;
    const auto firstMove = std::find_if(calls.begin(), calls.end(),
                                        [](const std::string& call) { return call.rfind("MoveFileA", 0) == 0; });
    const auto check = std::find(calls.begin(), calls.end(), "BCryptVerifySignature");
    if (c.verified) {
      EXPECT_LT(check, firstMove);
    } else {
      EXPECT_EQ(firstMove, calls.end());
    }
  }
}

TEST(UpdateRun, AConsoleShowsTheDownloadsProgressAndEndsWithTheMessageLinesAlone) {
  const std::string closing = Line(MsgClosing), downloading = Line(MsgDownloading);
  const std::string progress = "\r   0%  0.0 / 2.0 MB\r  50%  1.0 / 2.0 MB";
  const std::string erase = "\r" + std::string(19, ' ') + "\r";
  const struct {
    const char* name;
    bool console;
    std::int32_t downloadResult;
    std::string output;
  } cases[] = {
      {"console, done", true, 0, closing + downloading + progress + erase + Line(MsgStarting) + Line(MsgDone)},
      {"console, download failed", true, -2146697208,
       closing + downloading + progress + "\r 100%  2.0 / 2.0 MB" + erase + MsgDownloadFailed + "-2146697208\n"},
      {"file or pipe: the lines alone", false, 0, closing + downloading + Line(MsgStarting) + Line(MsgDone)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Install({"progress", {"old", kNone, kNone}});
    auto& state = fake::State();
    state.console = c.console;
    state.package.result = c.downloadResult;
    state.progressSteps = {{0, 2 * 1024 * 1024, 10}, {1024 * 1024, 2 * 1024 * 1024, 400}};
    if (c.downloadResult < 0) state.progressSteps.push_back({2 * 1024 * 1024, 2 * 1024 * 1024, 700});
    std::ostringstream out;
    RunUpdate(out, "");
    EXPECT_EQ(out.str(), c.output);
  }
}

TEST(UpdateRun, DownloadsThePackageUrlIntoTheDownloadFile) {
  Install({"plain", {"old", kNone, kNone}});
  std::ostringstream out;
  RunUpdate(out, "");
  EXPECT_TRUE(Called("URLDownloadToFileA http://" UPDATE_HOST "/update/app.asar -> " + kDownload));
}

TEST(UpdateRun, InstancesAreClosedAfterThePreparationAndBeforeTheDownload) {
  for (const bool snapshotFails : {false, true}) {
    SCOPED_TRACE(snapshotFails ? "no snapshot" : "an instance running");
    Install({"instances", {"old", kNone, kNone}});
    auto& state = fake::State();
    state.processes = {{77, u"Velmora.exe"}};
    state.snapshotFails = snapshotFails;
    std::ostringstream out;
    // A snapshot that can't be taken doesn't end the run.
    EXPECT_EQ(RunUpdate(out, ""), kExitDone);
    EXPECT_EQ(out.str(), Line(MsgClosing) + Line(MsgDownloading) + Line(MsgStarting) + Line(MsgDone));

    const auto& calls = state.calls;
    const auto position = [&](const std::string& prefix) {
      return std::find_if(calls.begin(), calls.end(), [&](const std::string& c) { return c.rfind(prefix, 0) == 0; });
    };
    const auto snapshot = position("CreateToolhelp32Snapshot");
    ASSERT_NE(snapshot, calls.end());
    EXPECT_GT(snapshot, position("GetFileAttributesA " + kResources)) << "before the layout was prepared";
    EXPECT_LT(snapshot, position("URLDownloadToFileA"));
    if (!snapshotFails) {
      EXPECT_LT(position("TerminateProcess"), position("URLDownloadToFileA"));
      EXPECT_EQ(state.terminated, std::vector<std::uint32_t>{77});
    }
  }
}

TEST(UpdateRun, TheStartErrorIsReadStraightAfterTheFailedStart) {
  // The fake overwrites the last error on every call, so a code read after
  // anything else would come out as that call's.
  Install({"no program", {"old", kNone, kNone}, false, false, false});
  std::ostringstream out;
  RunUpdate(out, "");
  const auto& calls = fake::State().calls;
  const auto start = std::find(calls.begin(), calls.end(), "CreateProcessA " + kProgram);
  ASSERT_NE(start, calls.end());
  ASSERT_NE(start + 1, calls.end());
  EXPECT_EQ(*(start + 1), "GetLastError");

}

}  // namespace
