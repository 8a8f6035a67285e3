// A launcher run against the recording platform with its own app-data folder.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "launcher/launcher.h"
#include "tests/recording_platform.h"
#include "tests/test_support.h"

// A settings file refused with `error`, the programs holding it as asking
// answers or fails, and the cause the message gives (nullptr: never asked).
struct HeldFile {
  platform::ErrorNumber error;
  std::vector<platform::FileHolder> holders;
  platform::ErrorNumber holdersError;
  const char* cause;
};
inline constexpr char kNoneNamed[] =
    "A program may keep it open, or you may lack the right to change it: close that program or "
    "ask for the right";
inline constexpr char kKeptOpen[] =
    "A program keeps it open: close that program (it may be X-Plane from an earlier start, or a "
    "backup or sync tool)";
inline const HeldFile kHeldFiles[] = {
    {32, {{7, "OneDrive"}, {8, "Notepad"}}, 0, "It is open in: OneDrive, Notepad; close them"},
    {32,
     {{1, "A"}, {}, {3, "B"}, {4, "C"}, {5, "D"}},
     0,
     "It is open in: A, B, C and 2 more; close them"},
    {32, {{1, "A"}, {2, "B"}, {3, "A"}, {4, "C"}}, 0, "It is open in: A, B, C; close them"},
    {32, {{1, "A"}, {2, ""}}, 0, "It is open in: A and 1 more; close them"},
    {32, {{1, ""}, {2, ""}}, 0, kKeptOpen},
    {32, {}, 0, kKeptOpen},
    {32, {{7, "Notepad"}}, 353, kKeptOpen},
    {33, {{7, "Notepad"}}, 0, "It is open in: Notepad; close it"},
};

class LauncherRun : public ::testing::Test {
 protected:
  void SetUp() override { recording::Reset(appData_.path()); }

  std::vector<std::string> Run(const std::string& commandLine = "") {
    RunLauncher(commandLine);
    return recording::calls;
  }

  boost::filesystem::path SettingsFile(const std::string& name = "settings") const {
    return testing_support::SettingsFile(appData_.path(), name);
  }

  // Runs with the file calls starting with `call` failing as the row says: the
  // calls `before`, who holds the settings file if the row asks, the message.
  void ExpectHeld(const HeldFile& row, const std::string& call, const std::string& commandLine,
                  std::vector<std::string> before, const std::string& message) {
    recording::Reset(appData_.path());
    recording::FailFileCall(call, row.error);
    recording::script.holders = row.holders;
    recording::script.holdersError = row.holdersError;
    recording::script.answerYes = true;
    const std::string file = SettingsFile().string();
    const std::string again = commandLine.empty()
                                  ? ", then quit X-Plane and start Cirrovane again.\n"
                                  : ", then start Cirrovane again.\n";
    if (row.cause != nullptr) before.push_back("ProgramsHoldingFile " + file);
    before.push_back(message + " | details: " + (row.cause ? row.cause + again : "") + file +
                     "\nraison n\u00b0 " + std::to_string(row.error));
    auto calls = Run(commandLine);
    calls.erase(std::remove(calls.begin(), calls.end(), "Sleep 10"), calls.end());
    EXPECT_EQ(calls, before);
  }

  testing_support::TemporaryFolder appData_;
};
