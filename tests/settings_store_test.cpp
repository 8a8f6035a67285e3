#include "settings/settings_store.h"

#include <sys/stat.h>

#include <cstdint>
#include <functional>
#include <set>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <boost/filesystem/exception.hpp>
#include <boost/filesystem/operations.hpp>

#include "tests/recording_platform.h"
#include "tests/test_support.h"

namespace {

namespace fs = boost::filesystem;
using testing_support::ReadFile;
using testing_support::SettingsFile;
using testing_support::WithSuffix;
using testing_support::WriteFile;

class SettingsStoreOnDisk : public ::testing::Test {
 protected:
  void SetUp() override { recording::Reset(appData_.path()); }

  fs::path File(const std::string& name = "settings") const {
    return SettingsFile(appData_.path(), name);
  }
  fs::path Backup(const std::string& name = "settings") const {
    return WithSuffix(File(name), ".bak");
  }
  std::set<std::string> FolderEntries() const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(File().parent_path())) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }
  static std::uintmax_t InodeOf(const fs::path& file) {
    struct stat status = {};
    ::stat(file.c_str(), &status);
    return status.st_ino;
  }

  testing_support::TemporaryFolder appData_;
};

TEST_F(SettingsStoreOnDisk, FirstWriteOnACleanProfileCreatesFolderAndFileButNoBackup) {
  SettingsStore store("settings");
  EXPECT_TRUE(fs::is_directory(appData_.path() / "Cirrovane"));
  EXPECT_FALSE(fs::exists(File())) << "construction writes nothing";

  store.SetValue("Loading", "ForceVRMode", "1");
  EXPECT_EQ(ReadFile(File()), "[Loading]\r\nForceVRMode = 1\r\n\r\n");
  EXPECT_EQ(FolderEntries(), std::set<std::string>{File().filename().string()});
}

TEST_F(SettingsStoreOnDisk, StoreNamesPickTheirOwnFiles) {
  SettingsStore("window_positions").SetValue("Main", "Left", "10");
  EXPECT_EQ(ReadFile(File("window_positions")), "[Main]\r\nLeft = 10\r\n\r\n");
  EXPECT_FALSE(fs::exists(File("settings")));
}

TEST_F(SettingsStoreOnDisk, SettingTheSameKeyTwiceKeepsTheSecondValue) {
  SettingsStore store("settings");
  store.SetValue("Loading", "ForceVRMode", "0");
  store.SetValue("Loading", "ForceVRMode", "1");
  EXPECT_EQ(ReadFile(File()), "[Loading]\r\nForceVRMode = 1\r\n\r\n");
}

TEST_F(SettingsStoreOnDisk, RewriteKeepsRecognisedSettingsAndDropsTheRest) {
  fs::create_directories(File().parent_path());
  WriteFile(File(), "# saved by hand\r\n[Loading]\r\nForceVRMode=0\r\n[Audio]\r\nVolume = 80\r\n");
  SettingsStore("settings").SetValue("Loading", "ForceVRMode", "1");

  SectionMap reloaded;
  ParseSections(ReadFile(File()), reloaded);
  EXPECT_EQ(reloaded,
            (SectionMap{{"Loading", {{"ForceVRMode", "1"}}}, {"Audio", {{"Volume", "80"}}}}));
  EXPECT_EQ(ReadFile(File()).find('#'), std::string::npos);
}

TEST_F(SettingsStoreOnDisk, EachRewriteKeepsThePreviousFileAsBackup) {
  SettingsStore store("settings");
  store.SetValue("Loading", "ForceVRMode", "1");
  const std::string first = ReadFile(File());
  store.SetValue("Loading", "Other", "2");
  EXPECT_EQ(ReadFile(Backup()), first);
  const std::string second = ReadFile(File());
  store.SetValue("Loading", "Third", "3");
  EXPECT_EQ(ReadFile(Backup()), second);
}

TEST_F(SettingsStoreOnDisk, FailedBackupCopyKeepsTheOldBackupAndTheFileIsStillWritten) {
  SettingsStore store("settings");
  store.SetValue("Loading", "ForceVRMode", "0");
  WriteFile(Backup(), "old backup");
  recording::script.backupError = 112;  // A full disk.
  store.SetValue("Loading", "ForceVRMode", "1");
  EXPECT_EQ(ReadFile(Backup()), "old backup");
  EXPECT_EQ(ReadFile(File()), "[Loading]\r\nForceVRMode = 1\r\n\r\n");
}

TEST_F(SettingsStoreOnDisk, RefusedReplaceFallsBackToRewritingTheSameFile) {
  fs::create_directories(File().parent_path());
  WriteFile(File(), "[Loading]\r\nForceVRMode = 0\r\n\r\n");
  const std::uintmax_t identity = InodeOf(File());
  recording::script.replaceRefused = true;
  SettingsStore("settings").SetValue("Loading", "ForceVRMode", "1");
  EXPECT_EQ(ReadFile(File()), "[Loading]\r\nForceVRMode = 1\r\n\r\n");
  EXPECT_EQ(InodeOf(File()), identity);
  EXPECT_EQ(ReadFile(Backup()), "[Loading]\r\nForceVRMode = 0\r\n\r\n");
  EXPECT_EQ(FolderEntries(),
            (std::set<std::string>{File().filename().string(), Backup().filename().string()}));
}

// Every way the value can fail to reach the file: the file and its backup
// stay byte for byte, nothing else is left in the folder, and the caller
// learns which file it was.
TEST_F(SettingsStoreOnDisk, ValueThatCannotBeSavedChangesNothingAndIsReported) {
  const std::string file = "[Loading]\r\nForceVRMode = 0\r\n\r\n[Audio]\r\nVolume = 80\r\n\r\n";
  const std::string backup = "[Loading]\r\nForceVRMode = 0\r\n\r\n";
  const std::vector<std::pair<const char*, std::function<void()>>> refusals = {
      {"lock wait ran out", [] { recording::script.lockError = platform::kErrorWaitTimeout; }},
      {"unreadable file", [] { recording::script.readError = 32; }},
      {"read-only file",
       [this] { fs::permissions(File(), fs::owner_read | fs::group_read | fs::others_read); }},
      {"temporary write fails", [] { recording::script.temporaryWriteError = 112; }},
  };
  for (const auto& [refusal, arrange] : refusals) {
    recording::Reset(appData_.path());
    fs::remove_all(File().parent_path());
    fs::create_directories(File().parent_path());
    WriteFile(File(), file);
    WriteFile(Backup(), backup);
    arrange();
    try {
      SettingsStore("settings").SetValue("Loading", "ForceVRMode", "1");
      ADD_FAILURE() << refusal << ": no failure reported";
    } catch (const fs::filesystem_error& failure) {
      EXPECT_EQ(failure.path1(), File()) << refusal;
      EXPECT_NE(failure.code().value(), 0) << refusal;
    }
    EXPECT_EQ(ReadFile(File()), file) << refusal;
    EXPECT_EQ(ReadFile(Backup()), backup) << refusal;
    EXPECT_EQ(FolderEntries().size(), 2u) << refusal;
  }
}

TEST_F(SettingsStoreOnDisk, WithoutAFileTheBackupIsLeftAlone) {
  fs::create_directories(File().parent_path());
  WriteFile(Backup(), "the last copy of the settings");
  SettingsStore("settings").SetValue("Loading", "ForceVRMode", "1");
  EXPECT_EQ(ReadFile(Backup()), "the last copy of the settings");
  EXPECT_EQ(ReadFile(File()), "[Loading]\r\nForceVRMode = 1\r\n\r\n");
}

TEST_F(SettingsStoreOnDisk, LockIsTakenBeforeLoadingAndHeldUntilDestruction) {
  {
    SettingsStore store("settings");
    store.SetValue("Loading", "ForceVRMode", "1");
    EXPECT_EQ(recording::heldLocks, 1);
    ASSERT_GE(recording::fileCalls.size(), 2u);
    EXPECT_EQ(recording::fileCalls[0], "AcquireSessionLock Cirrovane XR settings store settings");
    EXPECT_EQ(recording::fileCalls[1], "ReadWholeFile " + File().filename().string());
  }
  EXPECT_EQ(recording::heldLocks, 0);
  EXPECT_EQ(recording::fileCalls.back(), "ReleaseSessionLock");
}

TEST_F(SettingsStoreOnDisk, StoreWithoutTheLockDeletesNothing) {
  fs::create_directories(File().parent_path());
  WriteFile(File(), "settings");
  recording::script.lockError = platform::kErrorWaitTimeout;
  SettingsStore store("settings");
  EXPECT_THROW(store.DeleteFiles(), fs::filesystem_error);
  EXPECT_EQ(ReadFile(File()), "settings");
}

TEST_F(SettingsStoreOnDisk, FolderThatCannotBeCreatedThrows) {
  WriteFile(appData_.path() / "Cirrovane", "a plain file where the folder belongs");
  EXPECT_THROW(SettingsStore("settings"), fs::filesystem_error);
}

TEST_F(SettingsStoreOnDisk, DeleteFilesRemovesFileAndBackupOnly) {
  fs::create_directories(File().parent_path());
  for (const fs::path& file : {File(), Backup(), File("other"), Backup("other"),
                               File("window_positions"), Backup("window_positions")}) {
    WriteFile(file, "[S1]\r\nk = " + file.filename().string() + "\r\n\r\n");
  }
  SettingsStore("settings").DeleteFiles();
  EXPECT_FALSE(fs::exists(File()));
  EXPECT_FALSE(fs::exists(Backup()));
  for (const fs::path& file :
       {File("other"), Backup("other"), File("window_positions"), Backup("window_positions")}) {
    EXPECT_EQ(ReadFile(file), "[S1]\r\nk = " + file.filename().string() + "\r\n\r\n");
  }
}

TEST_F(SettingsStoreOnDisk, DeleteFilesWithNothingThereIsFine) {
  SettingsStore store("settings");
  EXPECT_NO_THROW(store.DeleteFiles());
  WriteFile(Backup(), "only a backup");
  store.DeleteFiles();
  EXPECT_FALSE(fs::exists(Backup()));
}

TEST_F(SettingsStoreOnDisk, FileThatCannotBeDeletedThrowsAndSparesTheBackup) {
  SettingsStore store("settings");
  fs::create_directories(File() / "in use");
  WriteFile(Backup(), "backup");
  EXPECT_THROW(store.DeleteFiles(), fs::filesystem_error);
  EXPECT_EQ(ReadFile(Backup()), "backup");
}

TEST_F(SettingsStoreOnDisk, DeletedFilesComeBackWithoutABackupOnTheNextWrite) {
  {
    SettingsStore store("settings");
    store.SetValue("Loading", "ForceVRMode", "1");
    store.SetValue("Loading", "ForceVRMode", "1");
    store.DeleteFiles();
  }
  SettingsStore("settings").SetValue("Loading", "ForceVRMode", "1");
  EXPECT_EQ(ReadFile(File()), "[Loading]\r\nForceVRMode = 1\r\n\r\n");
  EXPECT_FALSE(fs::exists(Backup()));
}

}  // namespace
