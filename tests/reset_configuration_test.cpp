#include <gmock/gmock.h>
#include <boost/filesystem/operations.hpp>

#include "tests/launch_test_fixture.h"

namespace {

namespace fs = boost::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;
using testing_support::ReadFile;
using testing_support::WithSuffix;
using testing_support::WriteFile;

constexpr char kQuestion[] =
    "AskYesNo Cirrovane XR | Are you sure that you want to clear all Cirrovane settings?";
constexpr char kCleared[] =
    "ShowMessage Cirrovane XR | Cirrovane's settings have been cleared.  Cirrovane will now "
    "launch.";

class ConfigurationReset : public LauncherRun {
 protected:
  // Both stores' files and backups, plus another store's, each holding its
  // own name.
  void WriteAllFiles() {
    fs::create_directories(SettingsFile().parent_path());
    for (const fs::path& file : AllFiles()) WriteFile(file, file.filename().string());
  }
  std::vector<fs::path> AllFiles() const {
    return {SettingsFile(),
            WithSuffix(SettingsFile(), ".bak"),
            SettingsFile("window_positions"),
            WithSuffix(SettingsFile("window_positions"), ".bak"),
            SettingsFile("other"),
            WithSuffix(SettingsFile("other"), ".bak")};
  }
};

TEST_F(ConfigurationReset, NoLeavesEverythingAndStartsNothing) {
  WriteAllFiles();
  recording::script.answerYes = false;
  EXPECT_THAT(Run("-ResetConfig"),
              ElementsAre("Sleep 250", "RestrictDllSearchToSystemFolder", kQuestion));
  for (const fs::path& file : AllFiles()) EXPECT_EQ(ReadFile(file), file.filename().string());
}

TEST_F(ConfigurationReset, YesDeletesBothStoresThenLaunchesAFreshSettingsFile) {
  WriteAllFiles();
  recording::script.answerYes = true;
  bool deletedBeforeNotice = false;
  recording::script.onCall = [&](const std::string& call) {
    if (call == kCleared) {
      deletedBeforeNotice = !fs::exists(SettingsFile()) &&
                            !fs::exists(SettingsFile("window_positions")) &&
                            !fs::exists(WithSuffix(SettingsFile("window_positions"), ".bak"));
    }
  };

  EXPECT_THAT(Run("-ResetConfig"),
              ElementsAre("Sleep 250", "RestrictDllSearchToSystemFolder", kQuestion, kCleared,
                          "SetEnvironment SteamAppId=487310", "StartSuspended X-Plane.exe",
                          "ResumeMainThread"));
  EXPECT_TRUE(deletedBeforeNotice);
  EXPECT_EQ(ReadFile(SettingsFile()), "[Loading]\r\nForceVRMode = 1\r\n\r\n");
  EXPECT_FALSE(fs::exists(WithSuffix(SettingsFile(), ".bak")));
  EXPECT_FALSE(fs::exists(SettingsFile("window_positions")));
  EXPECT_FALSE(fs::exists(WithSuffix(SettingsFile("window_positions"), ".bak")));
  EXPECT_EQ(ReadFile(SettingsFile("other")), SettingsFile("other").filename().string());
  EXPECT_EQ(ReadFile(WithSuffix(SettingsFile("other"), ".bak")),
            WithSuffix(SettingsFile("other"), ".bak").filename().string());
}

TEST_F(ConfigurationReset, YesOnACleanProfileCreatesTheFolderAndLaunches) {
  recording::script.answerYes = true;
  const auto calls = Run("-ResetConfig");
  EXPECT_THAT(calls, ::testing::Contains(kCleared));
  EXPECT_EQ(calls.back(), "ResumeMainThread");
  EXPECT_TRUE(fs::exists(SettingsFile()));
}

TEST_F(ConfigurationReset, FileThatCannotBeDeletedIsNamedAndNothingIsLaunched) {
  recording::script.answerYes = true;
  const fs::path backup = WithSuffix(SettingsFile("window_positions"), ".bak");
  fs::create_directories(backup / "in use");
  const auto calls = Run("-ResetConfig");
  ASSERT_EQ(calls.size(), 4u) << "nobody holds a folder";
  EXPECT_THAT(calls[3],
              HasSubstr("not started.\n | details: A folder named " + backup.filename().string() +
                        " stands where the settings "
                        "file's backup belongs: move or rename it, then start Cirrovane "
                        "again.\n" +
                        backup.string()));
}

TEST_F(ConfigurationReset, FileThatAProgramHoldsNamesTheProgram) {
  for (const HeldFile& row : kHeldFiles) {
    ExpectHeld(row, "RemoveFile " + SettingsFile().filename().string(), "-ResetConfig",
               {"Sleep 250", "RestrictDllSearchToSystemFolder", kQuestion},
               "ShowMessage Cirrovane XR | Cirrovane could not clear its settings, so X-Plane was "
               "not started.\n");
  }
}

TEST_F(ConfigurationReset, FolderThatCannotBeCreatedIsNamedAndNothingIsLaunched) {
  recording::script.answerYes = true;
  WriteFile(appData_.path() / "Cirrovane", "a plain file where the folder belongs");
  const auto calls = Run("-ResetConfig");
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_THAT(calls[3], HasSubstr("could not clear its settings"));
  EXPECT_THAT(calls[3], HasSubstr((appData_.path() / "Cirrovane").string()));
}

}  // namespace
