
#include <gmock/gmock.h>
#include <boost/filesystem/operations.hpp>

#include "settings/settings_format.h"
#include "tests/launch_test_fixture.h"

namespace {

namespace fs = boost::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;
using testing_support::ReadFile;
using testing_support::WithSuffix;
using testing_support::WriteFile;

using LaunchSequence = LauncherRun;

// The simulator runs first; then one message, in front of it, says that VR
// mode was not forced and why.
void ExpectResumedThenToldUnsaved(const std::vector<std::string>& calls,
                                  const std::string& details) {
  ASSERT_EQ(calls.size(), 6u);
  EXPECT_EQ(calls[4], "ResumeMainThread");
  EXPECT_EQ(calls[5],
            "ShowMessageInForeground Cirrovane XR | Cirrovane could not save its settings, so "
            "X-Plane was started without forcing VR mode.\n | details: " +
                details);
}

TEST_F(LaunchSequence, StartsSuspendedWritesTheSettingThenResumes) {
  std::string settingsAtStart = "not looked at";
  std::string settingsAtResume = "not looked at";
  int locksAtResume = -1;
  recording::script.onCall = [&](const std::string& call) {
    const std::string now = fs::exists(SettingsFile()) ? ReadFile(SettingsFile()) : "absent";
    if (call == "StartSuspended X-Plane.exe") settingsAtStart = now;
    if (call == "ResumeMainThread") {
      settingsAtResume = now;
      locksAtResume = recording::heldLocks;
    }
  };

  EXPECT_THAT(Run(), ElementsAre("Sleep 250", "RestrictDllSearchToSystemFolder",
                                 "SetEnvironment SteamAppId=487310", "StartSuspended X-Plane.exe",
                                 "ResumeMainThread"));
  EXPECT_EQ(settingsAtStart, "absent");
  EXPECT_EQ(settingsAtResume, "[Loading]\r\nForceVRMode = 1\r\n\r\n");
  EXPECT_EQ(locksAtResume, 0) << "the store is gone before the simulator runs";
}

TEST_F(LaunchSequence, ExistingSettingsAreKeptAndOnlyForceVrModeChanges) {
  fs::create_directories(SettingsFile().parent_path());
  const std::string before = "[Loading]\r\nForceVRMode = 0\r\nSkipIntro = 1\r\n\r\n";
  WriteFile(SettingsFile(), before);
  Run();

  SectionMap after;
  ParseSections(ReadFile(SettingsFile()), after);
  EXPECT_EQ(after, (SectionMap{{"Loading", {{"ForceVRMode", "1"}, {"SkipIntro", "1"}}}}));
  EXPECT_EQ(ReadFile(WithSuffix(SettingsFile(), ".bak")), before);
}

TEST_F(LaunchSequence, FailedStartWritesNothing) {
  recording::script.startError = 2;
  const auto calls = Run();
  EXPECT_FALSE(fs::exists(appData_.path() / "Cirrovane"));
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "ResumeMainThread"), 0);
}

TEST_F(LaunchSequence, ResetSwitchIsAnyCaseSensitiveSubstring) {
  for (const char* commandLine : {"-ResetConfig", "--fast -ResetConfig", "x-ResetConfigy"}) {
    recording::Reset(appData_.path());
    EXPECT_THAT(Run(commandLine), ElementsAre("Sleep 250", "RestrictDllSearchToSystemFolder",
                                              StartsWith("AskYesNo ")))
        << commandLine;
  }
  for (const char* commandLine : {"-resetconfig", "-Reset Config", "ResetConfig"}) {
    recording::Reset(appData_.path());
    EXPECT_THAT(Run(commandLine), ::testing::Not(::testing::Contains(StartsWith("AskYesNo "))))
        << commandLine;
  }
}

TEST_F(LaunchSequence, SettingsFolderThatCannotBeMadeStillLetsTheSimulatorRun) {
  // Named in characters that no ANSI code page holds together.
  const fs::path appData = appData_.path() / "漢字データ Démo";
  fs::create_directories(appData);
  recording::script.appData = appData;
  WriteFile(appData / "Cirrovane", "a plain file where the folder belongs");
  ExpectResumedThenToldUnsaved(Run(),
                               "A file named Cirrovane stands where the settings folder belongs: "
                               "move or rename it, then quit X-Plane and start Cirrovane again.\n" +
                                   (appData / "Cirrovane").string() + "\nraison n\u00b0 183");
}

TEST_F(LaunchSequence, UnsavedValueIsReportedOnlyAfterTheSimulatorRuns) {
  fs::create_directories(SettingsFile().parent_path());
  WriteFile(SettingsFile(), "[Loading]\r\nForceVRMode = 0\r\n\r\n");
  recording::FailFileCall("ReadWholeFile", 23);  // The disk's data error.
  ExpectResumedThenToldUnsaved(Run(), SettingsFile().string() + "\nraison n\u00b0 23");
  EXPECT_EQ(ReadFile(SettingsFile()), "[Loading]\r\nForceVRMode = 0\r\n\r\n");
}

TEST_F(LaunchSequence, UnknownAppDataFolderStillLetsTheSimulatorRun) {
  recording::script.appData.clear();
  const auto calls = Run();
  ASSERT_EQ(calls.size(), 6u);
  EXPECT_EQ(calls[4], "ResumeMainThread");
  EXPECT_THAT(calls[5], HasSubstr("could not save its settings"));
}

TEST_F(LaunchSequence, RunningTwiceRotatesTheBackup) {
  Run();
  const std::string first = ReadFile(SettingsFile());
  Run();
  EXPECT_EQ(ReadFile(WithSuffix(SettingsFile(), ".bak")), first);
  EXPECT_EQ(ReadFile(SettingsFile()), first);
}

}  // namespace
