#include "settings/settings_store.h"

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

  testing_support::TemporaryFolder appData_;
};

TEST_F(SettingsStoreOnDisk, FirstWriteOnACleanProfileCreatesFolderAndFileButNoBackup) {
  SettingsStore store("settings");
  EXPECT_TRUE(fs::is_directory(appData_.path() / "Cirrovane"));
  EXPECT_FALSE(fs::exists(File())) << "construction writes nothing";

  store.SetValue("Loading", "ForceVRMode", "1");
  EXPECT_EQ(ReadFile(File()), "[Loading]\r\nForceVRMode = 1\r\n\r\n");
  EXPECT_FALSE(fs::exists(Backup()));
  EXPECT_FALSE(fs::exists(WithSuffix(File(), ".tmp")));
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

TEST_F(SettingsStoreOnDisk, BackupThatCannotBeReplacedStaysAndTheFileIsStillWritten) {
  SettingsStore store("settings");
  store.SetValue("Loading", "ForceVRMode", "0");
  // A folder full of files where the backup goes cannot be removed, not even
  // by root, much like a read-only or locked backup on Windows.
  fs::create_directories(Backup() / "locked");
  store.SetValue("Loading", "ForceVRMode", "1");
  EXPECT_TRUE(fs::is_directory(Backup() / "locked"));
  EXPECT_EQ(ReadFile(File()), "[Loading]\r\nForceVRMode = 1\r\n\r\n");
}

TEST_F(SettingsStoreOnDisk, WriteCutShortLeavesThePreviousFileWhole) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "needs /dev/full";
  fs::create_directories(File().parent_path());
  const std::string before = "[Loading]\r\nForceVRMode = 0\r\n\r\n[Audio]\r\nVolume = 80\r\n\r\n";
  WriteFile(File(), before);
  // Every write to the temporary file fails as on a full disk.
  fs::create_symlink("/dev/full", WithSuffix(File(), ".tmp"));

  SettingsStore("settings").SetValue("Loading", "ForceVRMode", "1");
  EXPECT_EQ(ReadFile(File()), before);
  EXPECT_FALSE(fs::exists(fs::symlink_status(WithSuffix(File(), ".tmp"))));
}

TEST_F(SettingsStoreOnDisk, LeftoverTemporaryFileIsOverwritten) {
  fs::create_directories(File().parent_path());
  WriteFile(WithSuffix(File(), ".tmp"), "[Stale]\r\nold = 1\r\n\r\n");
  SettingsStore("settings").SetValue("Loading", "ForceVRMode", "1");
  EXPECT_EQ(ReadFile(File()), "[Loading]\r\nForceVRMode = 1\r\n\r\n");
  EXPECT_FALSE(fs::exists(WithSuffix(File(), ".tmp")));
}

TEST_F(SettingsStoreOnDisk, FileIsRewrittenInPlaceWhenNoTemporaryFileCanBeMade) {
  SettingsStore store("settings");
  store.SetValue("Loading", "ForceVRMode", "0");
  // A folder where the temporary file goes; the file itself is writable.
  fs::create_directories(WithSuffix(File(), ".tmp") / "blocked");
  store.SetValue("Loading", "ForceVRMode", "1");
  EXPECT_EQ(ReadFile(File()), "[Loading]\r\nForceVRMode = 1\r\n\r\n");
}

TEST_F(SettingsStoreOnDisk, FileThatCannotBeWrittenIsNotReported) {
  SettingsStore store("settings");
  fs::create_directories(File() / "blocked");
  EXPECT_NO_THROW(store.SetValue("Loading", "ForceVRMode", "1"));
}

TEST_F(SettingsStoreOnDisk, ReadOnlyFileIsLeftAsItIsButStillBackedUp) {
  fs::create_directories(File().parent_path());
  const std::string before = "[Loading]\r\nForceVRMode = 0\r\n\r\n";
  WriteFile(File(), before);
  fs::permissions(File(), fs::owner_read | fs::group_read | fs::others_read);
  SettingsStore("settings").SetValue("Loading", "ForceVRMode", "1");
  EXPECT_EQ(ReadFile(File()), before);
  EXPECT_EQ(ReadFile(Backup()), before);
  EXPECT_FALSE(fs::exists(WithSuffix(File(), ".tmp")));
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
