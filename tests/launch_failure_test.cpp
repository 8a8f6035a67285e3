#include <algorithm>
#include <functional>
#include <set>

#include <gmock/gmock.h>
#include <boost/filesystem/operations.hpp>

#include "tests/launch_test_fixture.h"

namespace {

namespace fs = boost::filesystem;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;
using testing_support::WriteFile;

constexpr char kUnableToLaunch[] =
    "ShowMessage Cirrovane XR | Cirrovane was unable to launch X-Plane.\nPlease ensure that "
    "X-Plane.exe is located in your flight simulator directory.";
constexpr char kNeedsAdministrator[] =
    "ShowMessage Cirrovane XR | Cirrovane requires administrator privileges in-order to "
    "run.\nPlease run Cirrovane as administrator.\nError: ";
// What the shell is given besides the file and folder: COM in a
// single-threaded apartment, no arguments, and a call that finishes before
// the launcher exits.
constexpr char kElevationRequest[] = " | verb runas, parameters \"\", show 5, mask 0x100, COM 0x6";

class LaunchFailure : public LauncherRun {
 protected:
  std::vector<std::string> FailWith(platform::ErrorNumber error,
                                    const std::string& commandLine = "") {
    recording::script.startError = error;
    auto calls = Run(commandLine);
    EXPECT_FALSE(fs::exists(appData_.path() / "Cirrovane")) << "no store may be touched";
    const std::vector<std::string> start = {"Sleep 250", "RestrictDllSearchToSystemFolder",
                                            "SetEnvironment SteamAppId=487310",
                                            "StartSuspended X-Plane.exe"};
    if (calls.size() < start.size() || !std::equal(start.begin(), start.end(), calls.begin())) {
      ADD_FAILURE() << "the failure is handled only after the start, got "
                    << ::testing::PrintToString(calls);
      return calls;
    }
    calls.erase(calls.begin(), calls.begin() + static_cast<std::ptrdiff_t>(start.size()));
    return calls;
  }

  std::string Elevation() const {
    return "StartElevated " + recording::script.ownExecutable.string() + " | " +
           fs::current_path().string() + kElevationRequest;
  }
};

TEST_F(LaunchFailure, ElevationRequiredRestartsElevatedInTheSameFolder) {
  EXPECT_THAT(FailWith(740), ElementsAre(Elevation()));
}

TEST_F(LaunchFailure, RefusedElevationShowsTheErrorNumberUnsigned) {
  for (platform::ErrorNumber error : {1223u, 4294967295u}) {
    recording::Reset(appData_.path());
    recording::script.elevationError = error;
    EXPECT_THAT(
        FailWith(740),
        ElementsAre(Elevation(),
                    StartsWith(kNeedsAdministrator + std::to_string(error) + " | details: \n" +
                               (error == 1223 ? "Windows asked whether" : "raison"))));
  }
}

TEST_F(LaunchFailure, AnyOtherErrorAsksForTheSimulatorFolderWithoutTheNumber) {
  for (platform::ErrorNumber error : {2u, 3u, 5u, 193u}) {
    const char* told = error < 5 ? "Cirrovane looked for" : "Windows did not start the";
    EXPECT_THAT(FailWith(error),
                ElementsAre(StartsWith(kUnableToLaunch + (" | details: \n" + std::string(told)) +
                                       " X-Plane.exe in " + fs::current_path().string())))
        << error;
    recording::Reset(appData_.path());
  }
}

// Each known cause of a settings failure, by the step refused, the error and
// what stands at the path, and whether its holders (never X-Plane) were asked.
TEST_F(LaunchFailure, EachKnownCauseIsToldWithWhatToDo) {
  const fs::path file = SettingsFile(), folder = file.parent_path();
  const fs::path linked = appData_.path() / "linked.ini", gone = appData_.path() / "gone.ini";
  WriteFile(linked, "");
  const auto readOnly = [](const fs::path& at) { fs::permissions(at, fs::owner_read); };
  const auto linkTo = [&](const fs::path& to) {
    return [&, to] { fs::remove(file), fs::create_symlink(to, file); };
  };
  const std::string none = "details: " + file.string() + "\nraison";
  const std::string full = "The disk that holds the settings is full: free some space on it";
  const std::string unreached = "folder that holds the settings cannot be reached: connect to";
  const auto settings = [&](const char* text) {
    return [&, text] { WriteFile(file, text), readOnly(file); };
  };
  const struct {
    std::string call;
    platform::ErrorNumber error;
    bool reset;
    std::function<void()> arrange;
    std::string cause;
    bool holdersAsked;
  } causes[] = {
      {"AcquireSessionLock", 258, false, {}, "let it finish, then quit X-Plane", false},
      {"AcquireSessionLock", 5, true, {}, "let it finish, then start Cirrovane again.\n", false},
      {"", 0, false, settings("[Loading]\nForceVRMode=0"), "read-only: clear Read-only in", false},
      {"", 0, false, settings("[Display]\nForceVRMode=1"), "read-only: clear Read-only in", false},
      {"", 0, false, settings("[Loading]\nForceVRMode=1"), "ResumeMainThread", false},
      {"ReadWholeFile", 23, false, settings("[Loading]\nForceVRMode=1"), none, false},
      {"RemoveFile", 5, true, [&] { readOnly(file); }, "marked read-only", false},
      {"ReadWholeFile", 1630, false, {}, "saved as Unicode, which Cirrovane cannot read", false},
      {"ReadWholeFile", 32, false, {}, kKeptOpen, true},
      {"ReadWholeFile", 5, false, [&] { readOnly(file); }, none, false},
      {"RenameOpenFileOver", 5, false, {}, kNoneNamed, true},
      {"RemoveFile", 5, true, {}, "It is open in: X-Plane; close it, then start", true},
      {"CreateNewFile", 5, false, {}, "create files in " + folder.string() + ": ask", false},
      {"CreateNewFile", 5, false, linkTo(linked), "in " + appData_.path().string() + ":", false},
      {"WriteToFile", 112, false, {}, full, false},
      {"CreateNewFile", 39, false, {}, full, false},
      {"CreateNewFile", 87, false, {}, "details: " + folder.string() + "\nraison", false},
      {"CreateFolders", 53, false, [&] { fs::remove_all(folder); }, unreached, false},
      {"ReadWholeFile", 67, false, {}, unreached, false},
      {"RenameOpenFileOver", 64, false, {}, unreached, false},
      {"RemoveFile", 1231, true, {}, unreached, false},
      {"RealLocation", 5, false, linkTo(linked), none, false},
      {"FlushToDisk", 5, false, {}, none, false},
      {"", 0, false, [&] { fs::remove(file), fs::create_directory(file); },
       "folder named " + file.filename().string() + " stands where the settings file", false},
      {"", 0, true, [&] { fs::remove(file), fs::create_directory(file), readOnly(file); },
       "folder named " + file.filename().string() + " stands where the settings file", false},
      {"", 0, false, [&] { fs::remove_all(folder), WriteFile(folder, ""), readOnly(folder); },
       "details: A file named Cirrovane stands where the settings folder belongs", false},
      {"CreateFolders", 5, false, [&] { fs::remove_all(folder); },
       "details: " + folder.string() + "\nraison", false},
      {"", 0, false, linkTo(gone),
       "is a link whose target cannot be found: connect the drive or folder it leads to", false},
  };
  for (const auto& c : causes) {
    recording::Reset(appData_.path());
    recording::script.holders = {{recording::kSimulatorProcessId, "X-Plane"}};
    recording::script.answerYes = true;
    if (c.error != 0) recording::FailFileCall(c.call, c.error);
    fs::remove_all(folder);
    fs::create_directories(folder);
    WriteFile(file, "");
    if (c.arrange) c.arrange();
    const auto calls = Run(c.reset ? "-ResetConfig" : "");
    EXPECT_THAT(calls.back(), HasSubstr(c.cause));
    EXPECT_EQ(Value(calls, Contains(StartsWith("ProgramsHoldingFile"))), c.holdersAsked) << c.cause;
    // What stands at the path is asked only after access denied where it may be in the way.
    const std::set<std::string> inTheWay = {"CreateFolders", "ReadWholeFile", "RenameOpenFileOver",
                                            "RemoveFile"};
    if (c.error != 0 && (c.error != platform::kErrorAccessDenied || !inTheWay.count(c.call))) {
      EXPECT_NE(recording::fileCalls.back().rfind("GetAttributes", 0), 0u) << c.cause;
    }
  }
}

TEST_F(LaunchFailure, UnsavedSettingsNameTheirHoldersOnceTheSimulatorRuns) {
  for (const HeldFile& row : kHeldFiles) {
    ExpectHeld(row, "ReadWholeFile", "",
               {"Sleep 250", "RestrictDllSearchToSystemFolder", "SetEnvironment SteamAppId=487310",
                "StartSuspended X-Plane.exe", "ResumeMainThread"},
               "ShowMessageInForeground Cirrovane XR | Cirrovane could not save its settings, so "
               "X-Plane was started without forcing VR mode.\n");
  }
}

TEST_F(LaunchFailure, ResetIsAskedOnceEvenWhenElevationFollows) {
  recording::script.startError = 740;
  const auto calls = Run("-ResetConfig");
  EXPECT_THAT(calls, ElementsAre("Sleep 250", "RestrictDllSearchToSystemFolder",
                                 ::testing::StartsWith("AskYesNo ")));

  recording::Reset(appData_.path());
  recording::script.startError = 740;
  recording::script.answerYes = true;
  const auto accepted = Run("-ResetConfig");
  EXPECT_EQ(std::count_if(accepted.begin(), accepted.end(),
                          [](const std::string& call) { return call.rfind("AskYesNo", 0) == 0; }),
            1);
  EXPECT_EQ(accepted.back(), Elevation()) << "the elevated copy gets no arguments";
}

}  // namespace
