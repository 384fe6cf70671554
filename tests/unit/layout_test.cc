#include "layout/layout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "fake_platform.h"

namespace {

const std::string kAppData = "C:\\Users\\u\\AppData\\Roaming";
const std::string kInstall = kAppData + "\\tavlmr";
const std::string kResources = kInstall + "\\resources";
const std::string kData = kAppData + "\\vlmr";

class LayoutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::Reset();
    fake::State().AddFolder(kAppData);
  }
  fake::Platform& platform() { return fake::State(); }
};

TEST_F(LayoutTest, AppDataPathJoinsTheFolderAndTheTail) {
  const struct {
    fake::Lookup lookup;
    std::string expected;
  } cases[] = {
      {{0, kAppData}, kAppData + "\\tavlmr\\Velmora.exe"},
      {{1, kAppData}, kAppData + "\\tavlmr\\Velmora.exe"},  // S_FALSE still counts as success
      {{0, "C:\\Roaming\\"}, "C:\\Roaming\\\\tavlmr\\Velmora.exe"},  // no trimming
      {{static_cast<std::int32_t>(0x80070002u), kAppData}, ""},
      {{0, ""}, ""},  // success without a folder: no drive-root path
  };
  for (const auto& c : cases) {
    fake::Reset();
    fake::State().lookups = {c.lookup};
    std::int32_t result = 12345;
    EXPECT_EQ(AppDataPath("tavlmr\\Velmora.exe", result), c.expected) << c.lookup.folder;
    EXPECT_EQ(result, c.lookup.result);
  }
}

TEST_F(LayoutTest, PreparationMakesItsCallsInOrderAndBuildsEveryPath) {
  const std::string gfa = "GetFileAttributesA ", cd = "CreateDirectoryA ";
  const struct {
    const char* name;
    std::vector<std::string> folders;  // besides the AppData folder
    std::vector<std::string> files;
    std::vector<std::string> calls;
    std::vector<std::string> foldersAfter;
  } cases[] = {
      {"both folders exist",
       {kInstall, kResources, kData},
       {},
       {"SHGetFolderPathA", "SHGetFolderPathA", gfa + kData, gfa + kResources, "SHGetFolderPathA"},
       {kResources, kData}},
      {"both missing, install folder present: data folder made first",
       {kInstall},
       {},
       {"SHGetFolderPathA", "SHGetFolderPathA", gfa + kData, cd + kData, gfa + kResources, cd + kResources,
        "SHGetFolderPathA"},
       {kResources, kData}},
      {"no install folder: only one level is made",
       {},
       {},
       {"SHGetFolderPathA", "SHGetFolderPathA", gfa + kData, cd + kData, gfa + kResources, cd + kResources,
        "SHGetFolderPathA"},
       {kData}},
      {"files already have the folders' names: nothing is made",
       {kInstall},
       {kData, kResources},
       {"SHGetFolderPathA", "SHGetFolderPathA", gfa + kData, gfa + kResources, "SHGetFolderPathA"},
       {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fake::Reset();
    auto& state = fake::State();
    state.AddFolder(kAppData);
    for (const auto& folder : c.folders) state.AddFolder(folder);
    for (const auto& file : c.files) state.AddFile(file, "x");

    InstallLayout layout;
    std::int32_t result = -1;
    ASSERT_TRUE(PrepareLayout(layout, result));
    EXPECT_EQ(result, 0);
    EXPECT_EQ(state.calls, c.calls);
    for (const auto& folder : {kResources, kData}) {
      const bool expected = std::find(c.foldersAfter.begin(), c.foldersAfter.end(), folder) != c.foldersAfter.end();
      EXPECT_EQ(state.Exists(folder) && state.files[folder].folder, expected) << folder;
    }

    EXPECT_EQ(layout.resourcesFolder, kResources);
    EXPECT_EQ(layout.packageFile, kResources + "\\app.asar");
    EXPECT_EQ(layout.backupFile, kResources + "\\app.bak");
    EXPECT_EQ(layout.downloadFile, kResources + "\\app.tmp");
    EXPECT_EQ(layout.signatureFile, kResources + "\\app.sig");
    EXPECT_EQ(layout.targetProgram, kInstall + "\\Velmora.exe");
  }
}

TEST_F(LayoutTest, AnUnresolvedAppDataFolderStopsThePreparationAtThatLookup) {
  constexpr std::int32_t kFailed = static_cast<std::int32_t>(0x80004005u);
  const fake::Lookup good{0, kAppData}, failed{kFailed, ""}, empty{0, ""};
  const struct {
    const char* name;
    std::deque<fake::Lookup> lookups;
    std::int32_t result;
    std::vector<std::string> calls;
  } cases[] = {
      {"resources lookup fails", {failed}, kFailed, {"SHGetFolderPathA"}},
      {"resources lookup empty", {empty}, 0, {"SHGetFolderPathA"}},
      {"data lookup fails", {good, failed}, kFailed, {"SHGetFolderPathA", "SHGetFolderPathA"}},
      {"program lookup fails after the folders",
       {good, good, failed},
       kFailed,
       {"SHGetFolderPathA", "SHGetFolderPathA", "GetFileAttributesA " + kData, "CreateDirectoryA " + kData,
        "GetFileAttributesA " + kResources, "CreateDirectoryA " + kResources, "SHGetFolderPathA"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fake::Reset();
    fake::State().AddFolder(kAppData);
    fake::State().AddFolder(kInstall);
    fake::State().lookups = c.lookups;
    InstallLayout layout;
    std::int32_t result = 12345;
    EXPECT_FALSE(PrepareLayout(layout, result));
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(fake::State().calls, c.calls);
  }
}

}  // namespace
