#include "settings/settings_store.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <iterator>
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

TEST_F(SettingsStoreOnDisk, RewriteKeepsRecognisedSettingsInTheirOrderAndDropsTheRest) {
  fs::create_directories(File().parent_path());
  WriteFile(File(), "# saved by hand\r\n[Loading]\r\nForceVRMode=0\r\n[Audio]\r\nVolume = 80\r\n");
  SettingsStore("settings").SetValue("Loading", "ForceVRMode", "1");
  EXPECT_EQ(ReadFile(File()), "[Loading]\r\nForceVRMode = 1\r\n\r\n[Audio]\r\nVolume = 80\r\n\r\n");
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

TEST_F(SettingsStoreOnDisk, FailedBackupKeepsTheOldBackupAndTheFileIsStillWritten) {
  SettingsStore store("settings");
  store.SetValue("Loading", "ForceVRMode", "0");
  WriteFile(Backup(), "old backup");
  recording::FailFileCall("WriteToFile " + Backup().filename().string(), 112);  // A full disk.
  store.SetValue("Loading", "ForceVRMode", "1");
  EXPECT_EQ(ReadFile(Backup()), "old backup");
  EXPECT_EQ(ReadFile(File()), "[Loading]\r\nForceVRMode = 1\r\n\r\n");
  EXPECT_EQ(FolderEntries().size(), 2u);
}

// A file held open without delete sharing is rewritten where it stands; a
// refused rename is tried every 10 ms (on Windows' timer tick) for 2 s, then
// the file is rewritten in place. A held backup is left as it was at once.
TEST_F(SettingsStoreOnDisk, HeldFilesAreReplacedWhenTheyCanBeAndRewrittenInPlaceWhenNot) {
  const std::string process = "." + std::to_string(::getpid());
  const std::string renameNewFile = "RenameOpenFileOver " + File().filename().string() + process;
  const std::string renameNewBackup =
      "RenameOpenFileOver " + Backup().filename().string() + process;
  const std::string old = "[Loading]\r\nForceVRMode = 0\r\n\r\n";
  const auto fail = [](const std::string& call, platform::ErrorNumber error, int times = 0) {
    return [=] { recording::FailFileCall(call, error, times); };
  };
  const struct {
    const char* name;
    std::function<void()> arrange;
    bool inPlace;
    std::uint64_t waited;
    bool backedUp;
  } holds[] = {
      {"file held open", fail("CheckNotHeldOpen", platform::kErrorSharingViolation), true, 0, true},
      {"new file held for a moment", fail(renameNewFile, platform::kErrorSharingViolation, 3),
       false, 48, true},
      {"new file held for good", fail(renameNewFile, platform::kErrorSharingViolation), true, 2000,
       true},
      {"new file refused while the file is open for a moment",
       [&] {
         fail("CheckNotOpenElsewhere", platform::kErrorSharingViolation, 2)();
         fail(renameNewFile, platform::kErrorAccessDenied, 2)();
       },
       false, 32, true},
      {"new file refused for good, not held", fail(renameNewFile, platform::kErrorAccessDenied),
       true, 0, true},
      {"backup held", fail(renameNewBackup, platform::kErrorSharingViolation), false, 0, false},
      {"no renaming open files",
       [&] {
         fail("RenameOpenFileOver", platform::kErrorNotSupported)();
         fail("RenameOver " + File().filename().string() + process,
              platform::kErrorSharingViolation, 2)();
       },
       false, 32, true},
      {"lock held by another launcher for 4.9 s",
       [] { recording::script.lockHeldMilliseconds = 4900; }, false, 4900, true},
  };
  for (const auto& hold : holds) {
    recording::Reset(appData_.path());
    recording::script.timerTick = 16;
    fs::remove_all(File().parent_path());
    fs::create_directories(File().parent_path());
    WriteFile(File(), old);
    WriteFile(Backup(), "old backup");
    const std::uintmax_t identity = InodeOf(File());
    hold.arrange();
    SettingsStore("settings").SetValue("Loading", "ForceVRMode", "1");
    EXPECT_EQ(ReadFile(File()), "[Loading]\r\nForceVRMode = 1\r\n\r\n") << hold.name;
    EXPECT_EQ(InodeOf(File()) == identity, hold.inPlace) << hold.name;
    EXPECT_EQ(recording::clock, hold.waited) << hold.name;
    EXPECT_EQ(ReadFile(Backup()), hold.backedUp ? old : "old backup") << hold.name;
    EXPECT_EQ(FolderEntries(),
              (std::set<std::string>{File().filename().string(), Backup().filename().string()}))
        << hold.name;
  }
}

// A launch may end after any file call of its save, killed or by a power cut
// (then the system deletes nothing). Whenever it ends, the backup holds a
// whole version, the file too unless it was being rewritten in place, no
// killed save leaves a file behind, and the next save leaves nothing else.
TEST_F(SettingsStoreOnDisk, SaveEndedAfterAnyFileCallLeavesWholeFilesAndTheNextCleansUp) {
  const std::string old = "[Loading]\r\nSeat = 2\r\n\r\n[Audio]\r\nVolume = 80\r\n\r\n";
  const std::string forced =
      "[Loading]\r\nSeat = 2\r\nForceVRMode = 1\r\n\r\n[Audio]\r\nVolume = 80\r\n\r\n";
  const std::string torn = forced.substr(0, forced.size() / 2) + old.substr(forced.size() / 2);
  const std::set<std::string> whole = {old, forced, "old backup"};
  const std::set<std::string> fileAndBackup = {File().filename().string(),
                                               Backup().filename().string()};
  for (const bool heldOpen : {false, true}) {
    for (const recording::End end : {recording::End::Killed, recording::End::PowerCut}) {
      for (int calls = 0, ended = 1; ended; ++calls) {
        SCOPED_TRACE(::testing::Message()
                     << "held open " << heldOpen << ", killed " << (end == recording::End::Killed)
                     << ", after call " << calls);
        recording::Reset(appData_.path());
        fs::remove_all(File().parent_path());
        fs::create_directories(File().parent_path());
        WriteFile(File(), old);
        WriteFile(Backup(), "old backup");
        if (heldOpen) recording::FailFileCall("CheckNotHeldOpen", platform::kErrorSharingViolation);
        {
          SettingsStore store("settings");
          recording::EndProcessAfter(calls, end);
          try {
            store.SetValue("Loading", "ForceVRMode", "1");
          } catch (const fs::filesystem_error&) {
          }
        }
        ended = recording::ProcessEnded();
        EXPECT_TRUE(whole.count(ReadFile(File())) || (heldOpen && ReadFile(File()) == torn));
        EXPECT_TRUE(whole.count(ReadFile(Backup())));
        if (end == recording::End::Killed && !heldOpen) {
          EXPECT_EQ(FolderEntries(), fileAndBackup);
        }

        recording::Reset(appData_.path());
        SettingsStore("settings").SetValue("Loading", "ForceVRMode", "1");
        EXPECT_TRUE(whole.count(ReadFile(Backup())));
        EXPECT_EQ(FolderEntries(), fileAndBackup);
      }
    }
  }
}

// Every way the value can fail to reach the file: the file stays byte for
// byte, so does the backup unless the new content was already on disk (then
// it holds the file's content), nothing else is left in the folder, and the
// caller learns which file it was.
TEST_F(SettingsStoreOnDisk, ValueThatCannotBeSavedChangesNothingAndIsReported) {
  const std::string file = "[Loading]\r\nForceVRMode = 0\r\n\r\n[Audio]\r\nVolume = 80\r\n\r\n";
  const std::string backup = "[Loading]\r\nForceVRMode = 0\r\n\r\n";
  const std::string newFile = File().filename().string() + "." + std::to_string(::getpid());
  const struct {
    const char* name;
    std::function<void()> arrange;
    const std::string& backupAfter;
  } refusals[] = {
      {"lock held by another launcher for 5.1 s",
       [] { recording::script.lockHeldMilliseconds = 5100; }, backup},
      {"unreadable file", [] { recording::FailFileCall("ReadWholeFile", 32); }, backup},
      {"read-only file",
       [this] { fs::permissions(File(), fs::owner_read | fs::group_read | fs::others_read); },
       backup},
      {"new file not created", [] { recording::FailFileCall("CreateNewFile", 5); }, backup},
      {"new file written in part", [] { recording::FailFileCall("WriteToFile", 112, 1); }, backup},
      {"new file not flushed", [] { recording::FailFileCall("FlushToDisk", 29, 1); }, backup},
      {"rename fails", [&] { recording::FailFileCall("RenameOpenFileOver " + newFile, 1392); },
       file},
  };
  for (const auto& refusal : refusals) {
    recording::Reset(appData_.path());
    fs::remove_all(File().parent_path());
    fs::create_directories(File().parent_path());
    WriteFile(File(), file);
    WriteFile(Backup(), backup);
    refusal.arrange();
    try {
      SettingsStore("settings").SetValue("Loading", "ForceVRMode", "1");
      ADD_FAILURE() << refusal.name << ": no failure reported";
    } catch (const fs::filesystem_error& failure) {
      EXPECT_EQ(failure.path1(), File()) << refusal.name;
      EXPECT_NE(failure.code().value(), 0) << refusal.name;
    }
    EXPECT_EQ(ReadFile(File()), file) << refusal.name;
    EXPECT_EQ(ReadFile(Backup()), refusal.backupAfter) << refusal.name;
    EXPECT_EQ(FolderEntries().size(), 2u) << refusal.name;
  }
}

TEST_F(SettingsStoreOnDisk, HiddenAndSystemMarksAreKeptByTheNewFile) {
  fs::create_directories(File().parent_path());
  WriteFile(File(), "[Loading]\r\nForceVRMode = 0\r\n\r\n");
  const std::uint32_t marks = platform::kAttributeHidden | platform::kAttributeSystem;
  ASSERT_EQ(platform::SetAttributes(File(), marks), 0u);
  const std::uintmax_t identity = InodeOf(File());
  SettingsStore("settings").SetValue("Loading", "ForceVRMode", "1");
  std::uint32_t attributes = 0;
  ASSERT_EQ(platform::GetAttributes(File(), &attributes), 0u);
  EXPECT_EQ(attributes & marks, marks);
  EXPECT_NE(InodeOf(File()), identity);
}

// What a launch killed during its save left: its temporary files go, and
// nothing else does, a link of that name and what it names included.
TEST_F(SettingsStoreOnDisk, LeftoversOfAKilledSaveAreRemovedAndNothingElse) {
  fs::create_directories(File().parent_path());
  const std::string file = File().filename().string();
  for (const std::string& leftover : {file + ".4242-0.tmp", file + ".bak.17-3.tmp"}) {
    WriteFile(File().parent_path() / leftover, "part of a save");
  }
  const std::set<std::string> kept = {file + ".x-1.tmp",  file + ".1-2.tmp.keep", file + ".12.tmp",
                                      file + ".1--2.tmp", "other.ini.1-1.tmp",    file + ".bak"};
  for (const std::string& name : kept) WriteFile(File().parent_path() / name, name);
  fs::create_directories(File().parent_path() / (file + ".5-5.tmp"));
  testing_support::TemporaryFolder elsewhere;
  WriteFile(elsewhere.path() / "precious", "precious");
  fs::create_symlink(elsewhere.path() / "precious", File().parent_path() / (file + ".7-7.tmp"));

  SettingsStore("settings").SetValue("Loading", "ForceVRMode", "1");
  std::set<std::string> expected = kept;
  expected.insert({file, file + ".5-5.tmp", file + ".7-7.tmp"});
  EXPECT_EQ(FolderEntries(), expected);
  EXPECT_EQ(ReadFile(elsewhere.path() / "precious"), "precious");
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
    const auto& calls = recording::fileCalls;
    const auto lock = std::find(calls.begin(), calls.end(),
                                "AcquireSessionLock Cirrovane XR settings store settings");
    ASSERT_NE(lock, calls.end());
    EXPECT_EQ(*std::next(lock), "ReadWholeFile " + File().filename().string());
  }
  EXPECT_EQ(recording::heldLocks, 0);
  EXPECT_EQ(recording::fileCalls.back(), "ReleaseSessionLock");
}

TEST_F(SettingsStoreOnDisk, StoreWithoutTheLockDeletesNothing) {
  fs::create_directories(File().parent_path());
  WriteFile(File(), "settings");
  recording::FailFileCall("AcquireSessionLock", platform::kErrorWaitTimeout);
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
