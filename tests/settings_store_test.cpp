#include "settings/settings_store.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <iterator>
#include <optional>
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
  const std::string forced_ = "[Loading]\r\nForceVRMode = 1\r\n\r\n[Audio]\r\nVolume = 80\r\n\r\n";
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

// Every way a save meets a file that something holds, or refuses: a
// refusal that may pass is tried every 10 ms (on Windows' timer tick) until
// the deadline, a held backup is left as it was at once. A save that fails
// leaves the file byte for byte (the backup holds its content once the new
// content was on the disk) and tells which file it was; nothing else stays
// in the folder.
TEST_F(SettingsStoreOnDisk, HeldAndRefusedFilesAreWaitedForUntilTheDeadlineElseReported) {
  const std::string process = "." + std::to_string(::getpid());
  const std::string renameNewFile = "RenameOpenFileOver " + File().filename().string() + process;
  const std::string renameNewBackup =
      "RenameOpenFileOver " + Backup().filename().string() + process;
  const std::string old = "[Loading]\r\nForceVRMode = 0\r\n\r\n[Audio]\r\nVolume = 80\r\n\r\n";
  const std::string oldBackup = "[Loading]\r\nForceVRMode = 0\r\n\r\n";
  const auto fail = [](const std::string& call, platform::ErrorNumber error, int times = 0) {
    return [=] { recording::FailFileCall(call, error, times); };
  };
  const auto lockHeld = [](unsigned milliseconds) {
    return [=] { recording::script.lockHeldMilliseconds = milliseconds; };
  };
  const auto readOnly = [](const fs::path& file) {
    return [=] { fs::permissions(file, fs::owner_read | fs::group_read | fs::others_read); };
  };
  const struct {
    const char* name;
    std::function<void()> arrange;
    bool saved;
    std::uint64_t waited;
    const std::string& backupAfter;
    bool namesTheFolder = false;  // The new file could not be made there.
  } holds[] = {
      {"new file held for a moment", fail(renameNewFile, platform::kErrorSharingViolation, 3), true,
       48, old},
      {"new file refused for a moment", fail(renameNewFile, platform::kErrorAccessDenied, 2), true,
       32, old},
      {"backup held", fail(renameNewBackup, platform::kErrorSharingViolation), true, 0, oldBackup},
      {"backup written in part", fail("WriteToFile " + Backup().filename().string() + process, 112),
       true, 0, oldBackup},
      {"backup read-only", readOnly(Backup()), true, 0, oldBackup},
      {"no renaming open files",
       [&] {
         fail("RenameOpenFileOver", platform::kErrorNotSupported)();
         fail("RenameFileOver " + File().filename().string() + process,
              platform::kErrorSharingViolation, 2)();
       },
       true, 32, old},
      {"lock held by another launcher for 4.9 s", lockHeld(4900), true, 4900, old},
      {"lock refused for a moment", fail("AcquireSessionLock", platform::kErrorAccessDenied, 3),
       true, 48, old},
      {"lock held by another launcher for 5.1 s", lockHeld(5100), false, 5000, oldBackup},
      {"lock refused for good", fail("AcquireSessionLock", platform::kErrorAccessDenied), false,
       5008, oldBackup},
      {"file read held for a moment", fail("ReadWholeFile", 32, 2), true, 32, old},
      {"file read locked for a moment", fail("ReadWholeFile", 33, 2), true, 32, old},
      {"file held past the deadline", fail("ReadWholeFile", 32), false, 2000, oldBackup},
      {"read-only file", readOnly(File()), false, 0, oldBackup},
      {"first names held by deleted files",
       [&] {
         for (const fs::path& file : {File(), Backup()}) {
           for (const char* call : {"CreateNewFile ", "GetAttributes "}) {
             fail(call + file.filename().string() + process + "-0.tmp",
                  platform::kErrorAccessDenied)();
           }
         }
       },
       true, 0, old},
      {"new file's name freed after a refusal", fail("CreateNewFile", 5, 1), true, 0, old},
      {"new file not created where nothing stands",
       fail("CreateNewFile", platform::kErrorAccessDenied, 2), false, 0, oldBackup, true},
      {"new file written in part", fail("WriteToFile", 112, 1), false, 0, oldBackup},
      {"new file not flushed", fail("FlushToDisk", 29, 1), false, 0, oldBackup},
      {"new file held past the deadline", fail(renameNewFile, platform::kErrorSharingViolation),
       false, 2000, old},
      {"new file refused for good", fail(renameNewFile, platform::kErrorAccessDenied), false, 2000,
       old},
      {"new file not renamed for another reason", fail(renameNewFile, 1392), false, 0, old},
  };
  for (const auto& hold : holds) {
    recording::Reset(appData_.path());
    recording::script.timerTick = 16;
    fs::remove_all(File().parent_path());
    fs::create_directories(File().parent_path());
    WriteFile(File(), old);
    WriteFile(Backup(), oldBackup);
    const std::uintmax_t identity = InodeOf(File());
    hold.arrange();
    try {
      SettingsStore("settings").SetValue("Loading", "ForceVRMode", "1");
      EXPECT_TRUE(hold.saved) << hold.name << ": no failure reported";
    } catch (const fs::filesystem_error& failure) {
      EXPECT_FALSE(hold.saved) << hold.name << ": " << failure.what();
      EXPECT_EQ(failure.path1(), hold.namesTheFolder ? File().parent_path() : File()) << hold.name;
      EXPECT_NE(failure.code().value(), 0) << hold.name;
    }
    EXPECT_EQ(ReadFile(File()), hold.saved ? forced_ : old) << hold.name;
    const auto& calls = recording::fileCalls;
    const auto byName = std::find_if(calls.begin(), calls.end(), [](const std::string& call) {
      return call.rfind("RenameFileOver", 0) == 0;
    });
    EXPECT_TRUE(byName == calls.end() || byName[-1].rfind("CloseFile", 0) == 0) << hold.name;
    EXPECT_EQ(InodeOf(File()) != identity, hold.saved)
        << hold.name << ": replaced, never rewritten";
    EXPECT_EQ(recording::clock, hold.waited) << hold.name;
    EXPECT_EQ(ReadFile(Backup()), hold.backupAfter) << hold.name;
    EXPECT_EQ(FolderEntries(),
              (std::set<std::string>{File().filename().string(), Backup().filename().string()}))
        << hold.name;
  }
}

// A launch may end after any file call of its save, killed or by a power cut
// (then what was not flushed reads as zeroes). Whenever it ends, the file and
// the backup each hold a whole version, and the next save leaves nothing
// else.
TEST_F(SettingsStoreOnDisk, SaveEndedAfterAnyFileCallLeavesWholeFilesAndTheNextCleansUp) {
  const std::string old = "[Loading]\r\nSeat = 2\r\n\r\n[Audio]\r\nVolume = 80\r\n\r\n";
  const std::string forced =
      "[Loading]\r\nSeat = 2\r\nForceVRMode = 1\r\n\r\n[Audio]\r\nVolume = 80\r\n\r\n";
  const std::set<std::string> whole = {old, forced, "old backup"};
  const std::set<std::string> fileAndBackup = {File().filename().string(),
                                               Backup().filename().string()};
  for (const recording::End end : {recording::End::Killed, recording::End::PowerCut}) {
    for (int calls = 0, ended = 1; ended; ++calls) {
      SCOPED_TRACE(::testing::Message()
                   << "killed " << (end == recording::End::Killed) << ", after call " << calls);
      recording::Reset(appData_.path());
      fs::remove_all(File().parent_path());
      fs::create_directories(File().parent_path());
      WriteFile(File(), old);
      WriteFile(Backup(), "old backup");
      {
        SettingsStore store("settings");
        recording::EndProcessAfter(calls, end);
        try {
          store.SetValue("Loading", "ForceVRMode", "1");
        } catch (const fs::filesystem_error&) {
        }
      }
      ended = recording::ProcessEnded();
      EXPECT_TRUE(whole.count(ReadFile(File())));
      EXPECT_TRUE(whole.count(ReadFile(Backup())));

      recording::Reset(appData_.path());
      SettingsStore("settings").SetValue("Loading", "ForceVRMode", "1");
      EXPECT_EQ(ReadFile(File()), forced);
      EXPECT_TRUE(whole.count(ReadFile(Backup())));
      EXPECT_EQ(FolderEntries(), fileAndBackup);
    }
  }
}

// What a writer cut short by a power cut leaves: the length without the
// content, or nothing. A good backup then gives back the settings the file
// lost, and no damaged file becomes the backup, so the next launch backs up a
// whole one. Unicode text, whose zeros are no damage, and with no file at
// all the backup, are left alone; so is a damaged file until its backup can
// be read.
TEST_F(SettingsStoreOnDisk, DamagedFileGetsItsSettingsBackFromAGoodBackup) {
  const std::string good = "[Loading]\r\nForceVRMode = 0\r\n\r\n[Audio]\r\nVolume = 80\r\n\r\n";
  const std::string zeroes(4096, '\0');
  std::string torn = "[Loading]\r\nForceVRMode = 0\r\n\r\n[Display]\r\nWidth = 1920\r\nHeight = 1";
  torn.resize(4096, '\0');
  const std::string tornBackup =
      "[Loading]\r\nForceVRMode = 0\r\n\r\n[Display]\r\nWidth = 1280\r\nHeight = 14\r\n\r\n";
  const auto unicode = [](std::size_t unit, bool bigEndian, bool marked) {
    std::string bytes;
    for (const char32_t c : std::u32string(marked ? U"\uFEFF" : U"") + U"[Loading]\r\nSeat=2") {
      for (std::size_t i = 0; i < unit; ++i) bytes += char(c >> 8 * (bigEndian ? unit - 1 - i : i));
    }
    return bytes;
  };
  const std::string fresh = "[Loading]\r\nForceVRMode = 1\r\n\r\n";
  constexpr platform::ErrorNumber kUnicode = platform::kErrorUnsupportedType;
  const std::string ansi = "X=1\r\n", zero(2, '\0');
  const struct {
    const char* name;
    std::optional<std::string> file;
    std::optional<std::string> backup;
    std::string fileAfter;
    std::optional<std::string> backupAfter;
    platform::ErrorNumber refusal = 0;  // Why the file is not written.
  } cases[] = {
      {"zeroed", zeroes, good, forced_, good},
      {"zeroed head", std::string(112, '\0') + "\r\n[Audio]\r\nVolume = 75\r\n", good,
       "[Loading]\r\nForceVRMode = 1\r\n\r\n[Audio]\r\nVolume = 75\r\n\r\n", good},
      {"zeroed from inside a line", torn, tornBackup,
       "[Loading]\r\nForceVRMode = 1\r\n\r\n[Display]\r\nWidth = 1920\r\nHeight = 14\r\n\r\n",
       tornBackup},
      {"zeroed from inside a line, no backup", torn, std::nullopt,
       "[Loading]\r\nForceVRMode = 1\r\n\r\n[Display]\r\nWidth = 1920\r\n\r\n", std::nullopt},
      {"empty", "", good, forced_, good},
      {"zeroed, no backup", zeroes, std::nullopt, fresh, std::nullopt},
      {"empty, zeroed backup", "", zeroes, fresh, zeroes},
      {"zeroed, backup held", zeroes, good, forced_, good, platform::kErrorSharingViolation},
      {"UTF-16", unicode(2, false, true), good, "", good, kUnicode},
      {"UTF-16, no mark", unicode(2, false, false), good, "", good, kUnicode},
      {"UTF-16 BE", unicode(2, true, true), good, "", good, kUnicode},
      {"UTF-16 BE, no mark", unicode(2, true, false), good, "", good, kUnicode},
      {"UTF-32", unicode(4, false, true), good, "", good, kUnicode},
      {"UTF-32, no mark", unicode(4, false, false), good, "", good, kUnicode},
      {"UTF-32 BE", unicode(4, true, true), good, "", good, kUnicode},
      {"UTF-16, ANSI appended", unicode(2, false, true) + ansi, good, "", good, kUnicode},
      {"UTF-16, zero unit last", unicode(2, false, true) + zero, good, "", good, kUnicode},
      {"no mark, zero, ANSI", unicode(2, false, false) + zero + ansi, good, "", good, kUnicode},
      {"BE, no mark, zero, ANSI", unicode(2, true, false) + zero + ansi, good, "", good, kUnicode},
      {"UTF-8 with a mark", "\xEF\xBB\xBF" + good, std::nullopt, forced_, "\xEF\xBB\xBF" + good},
      {"zeroed, backup zeroed from inside a line", zeroes, torn, fresh, torn},
      {"no file", std::nullopt, good, fresh, good},
  };
  const auto backup = [&] {
    return fs::exists(Backup()) ? std::optional(ReadFile(Backup())) : std::nullopt;
  };
  for (const auto& c : cases) {
    recording::Reset(appData_.path());
    fs::remove_all(File().parent_path());
    fs::create_directories(File().parent_path());
    if (c.file) WriteFile(File(), *c.file);
    if (c.backup) WriteFile(Backup(), *c.backup);
    const bool held = c.refusal == platform::kErrorSharingViolation;
    if (held) recording::FailFileCall("ReadWholeFile " + Backup().filename().string(), 32, 1);
    for (int launch = 1; launch <= 2; ++launch) {
      const bool refused = c.refusal != 0 && (launch == 1 || !held);
      try {
        SettingsStore("settings").SetValue("Loading", "ForceVRMode", "1");
        EXPECT_FALSE(refused) << c.name << ": written";
      } catch (const fs::filesystem_error& failure) {
        EXPECT_TRUE(refused) << c.name << ": " << failure.what();
        EXPECT_EQ(failure.code().value(), static_cast<int>(c.refusal));
        EXPECT_EQ(failure.path1(), held ? Backup() : File()) << c.name;
      }
      EXPECT_EQ(ReadFile(File()), refused ? *c.file : c.fileAfter)
          << c.name << ", launch " << launch;
      EXPECT_EQ(backup(), launch == 1 || c.refusal ? c.backupAfter : c.fileAfter)
          << c.name << ", launch " << launch;
    }
  }
}

TEST_F(SettingsStoreOnDisk, LinkedSettingsFileStaysALinkAndItsTargetGetsTheContent) {
  testing_support::TemporaryFolder synced;
  const fs::path target = synced.path() / "settings.ini", backup = synced.path() / "backup";
  const std::string old = "[Loading]\r\nForceVRMode = 0\r\n\r\n[Audio]\r\nVolume = 80\r\n\r\n";
  WriteFile(target, old);
  WriteFile(backup, "older");
  fs::create_directories(File().parent_path());
  fs::create_symlink(target, File());
  fs::create_symlink(backup, Backup());
  for (const char* leftover : {"settings.ini.4242-0.tmp", "backup.4242-1.tmp"})
    WriteFile(synced.path() / leftover, "left by a save cut short");
  SettingsStore("settings").SetValue("Loading", "ForceVRMode", "1");
  EXPECT_TRUE(fs::is_symlink(File()) && fs::is_symlink(Backup()));
  EXPECT_EQ(ReadFile(target), forced_);
  EXPECT_EQ(ReadFile(backup), old);
  EXPECT_EQ(std::distance(fs::directory_iterator(synced.path()), fs::directory_iterator()), 2);

  // One whose target cannot be found is never replaced, as the file or the backup.
  fs::remove(backup);
  SettingsStore("settings").SetValue("Loading", "ForceVRMode", "1");
  fs::remove(target);
  EXPECT_THROW(SettingsStore("settings").SetValue("Loading", "X", "1"), SettingsStore::Failure);
  EXPECT_TRUE(fs::is_symlink(File()) && fs::is_symlink(Backup()));
  EXPECT_EQ(FolderEntries().size() + std::distance(fs::directory_iterator(synced.path()), {}), 2);
}

TEST_F(SettingsStoreOnDisk, HiddenAndSystemMarksAreKeptByTheNewFile) {
  fs::create_directories(File().parent_path());
  WriteFile(File(), "[Loading]\r\nForceVRMode = 0\r\n\r\n");
  const std::uint32_t marks = platform::kAttributeHidden | platform::kAttributeSystem;
  recording::Mark(File(), marks);
  const std::uintmax_t identity = InodeOf(File());
  SettingsStore("settings").SetValue("Loading", "ForceVRMode", "1");
  std::uint32_t attributes = 0;
  ASSERT_EQ(platform::GetAttributes(File(), &attributes), 0u);
  EXPECT_EQ(attributes & marks, marks);
  EXPECT_NE(InodeOf(File()), identity);
}

// What a launch killed during its save left: its temporary files go, found
// through a linked folder too, and nothing else does, a folder or a link of
// that name and what it names included.
TEST_F(SettingsStoreOnDisk, LeftoversOfAKilledSaveAreRemovedAndNothingElse) {
  fs::create_directories(File().parent_path());
  const std::string file = File().filename().string();
  for (const std::string& leftover : {file + ".4242-0.tmp", file + ".bak.17-3.tmp"}) {
    WriteFile(File().parent_path() / leftover, "part of a save");
  }
  // Another store's file name of the same length is told apart by its prefix.
  const std::set<std::string> kept = {
      file + ".x-1.tmp",  file + ".1-2.tmp.keep", file + ".12.tmp",
      file + ".1--2.tmp", file + ".bak",          "settings_pro_Cirrovane XR_controls.ini.1-1.tmp"};
  for (const std::string& name : kept) WriteFile(File().parent_path() / name, name);
  fs::create_directories(File().parent_path() / (file + ".5-5.tmp"));
  testing_support::TemporaryFolder elsewhere;
  WriteFile(elsewhere.path() / "precious", "precious");
  fs::create_symlink(elsewhere.path() / "precious", File().parent_path() / (file + ".7-7.tmp"));
  fs::create_symlink(appData_.path(), elsewhere.path() / "linked");
  recording::script.appData = elsewhere.path() / "linked";

  SettingsStore("settings").SetValue("Loading", "ForceVRMode", "1");
  std::set<std::string> expected = kept;
  expected.insert({file, file + ".5-5.tmp", file + ".7-7.tmp"});
  EXPECT_EQ(FolderEntries(), expected);
  EXPECT_EQ(ReadFile(elsewhere.path() / "precious"), "precious");
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

TEST_F(SettingsStoreOnDisk, StoreWithoutTheLockReadsAndDeletesNothing) {
  fs::create_directories(File().parent_path());
  WriteFile(File(), "settings");
  recording::FailFileCall("AcquireSessionLock", platform::kErrorWaitTimeout);
  SettingsStore store("settings");
  EXPECT_EQ(recording::fileCalls.back(), "AcquireSessionLock Cirrovane XR settings store settings");
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
