#include <gmock/gmock.h>
#include <boost/filesystem/operations.hpp>

#include "tests/launch_test_fixture.h"

namespace {

namespace fs = boost::filesystem;
using ::testing::ElementsAre;

constexpr char kUnableToLaunch[] =
    "ShowMessage Cirrovane XR | Cirrovane was unable to launch X-Plane.\nPlease ensure that "
    "X-Plane.exe is located in your flight simulator directory.";
constexpr char kNeedsAdministrator[] =
    "ShowMessage Cirrovane XR | Cirrovane requires administrator privileges in-order to "
    "run.\nPlease run Cirrovane as administrator.\nError: ";

class LaunchFailure : public LauncherRun {
 protected:
  std::vector<std::string> FailWith(platform::ErrorNumber error,
                                    const std::string& commandLine = "") {
    recording::script.startSucceeds = false;
    recording::script.startError = error;
    const auto calls = Run(commandLine);
    EXPECT_FALSE(fs::exists(appData_.path() / "Cirrovane")) << "no store may be touched";
    return std::vector<std::string>(calls.begin() + 4, calls.end());
  }

  std::string Elevation() const {
    return "StartElevated " + recording::script.ownExecutable.string() + " | " +
           fs::current_path().string();
  }
};

TEST_F(LaunchFailure, ElevationRequiredRestartsElevatedInTheSameFolder) {
  recording::script.ownExecutable =
      "C:\\Program Files\\Very Long Folder Name " + std::string(300, 'x') + "\\CirrovaneXR.exe";
  EXPECT_THAT(FailWith(740), ElementsAre(Elevation()));
}

TEST_F(LaunchFailure, RefusedElevationShowsTheErrorNumberUnsigned) {
  for (platform::ErrorNumber error : {1223u, 4294967295u}) {
    recording::Reset(appData_.path());
    recording::script.elevationSucceeds = false;
    recording::script.elevationError = error;
    EXPECT_THAT(FailWith(740),
                ElementsAre(Elevation(), kNeedsAdministrator + std::to_string(error)));
  }
  EXPECT_EQ(recording::calls.back(), std::string(kNeedsAdministrator) + "4294967295");
}

TEST_F(LaunchFailure, AnyOtherErrorAsksForTheSimulatorFolderWithoutTheNumber) {
  for (platform::ErrorNumber error : {2u, 3u, 5u, 193u}) {
    EXPECT_THAT(FailWith(error), ElementsAre(kUnableToLaunch)) << error;
    recording::Reset(appData_.path());
  }
}

TEST_F(LaunchFailure, ResetIsAskedOnceEvenWhenElevationFollows) {
  recording::script.startSucceeds = false;
  recording::script.startError = 740;
  const auto calls = Run("-ResetConfig");
  EXPECT_THAT(calls, ElementsAre("Sleep 250", "RestrictDllSearchToSystemFolder",
                                 ::testing::StartsWith("AskYesNo ")));

  recording::Reset(appData_.path());
  recording::script.startSucceeds = false;
  recording::script.startError = 740;
  recording::script.answerYes = true;
  const auto accepted = Run("-ResetConfig");
  EXPECT_EQ(std::count_if(accepted.begin(), accepted.end(),
                          [](const std::string& call) { return call.rfind("AskYesNo", 0) == 0; }),
            1);
  EXPECT_EQ(accepted.back(), Elevation()) << "the elevated copy gets no arguments";
}

}  // namespace
