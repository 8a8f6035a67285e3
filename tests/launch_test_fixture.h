// A launcher run against the recording platform with its own app-data folder.
#pragma once

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "launcher/launcher.h"
#include "tests/recording_platform.h"
#include "tests/test_support.h"

// A settings file refused with `error`, the programs holding it as asking
// answers or fails, and the line the message gains (nullptr: never asked).
struct HeldFile {
  platform::ErrorNumber error;
  std::vector<std::string> holders;
  platform::ErrorNumber holdersError;
  const char* line;
};
inline const HeldFile kHeldFiles[] = {
    {32, {"OneDrive", "Notepad"}, 0, "\nIt is open in: OneDrive, Notepad"},
    {5, {"Word", "", "Excel", "Paint", "Zip"}, 0, "\nIt is open in: Word, Excel, Paint and 1 more"},
    {32, {"Word", "Excel", "Paint"}, 0, "\nIt is open in: Word, Excel, Paint"},
    {32, {"", ""}, 0, ""},
    {5, {}, 0, ""},
    {32, {"Notepad"}, 353, ""},
    {33, {"Notepad"}, 0, nullptr},
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
    if (row.line != nullptr) before.push_back("ProgramsHoldingFile " + file);
    before.push_back(message + " | details: " + file + "\nraison n\u00b0 " +
                     std::to_string(row.error) + (row.line != nullptr ? row.line : ""));
    EXPECT_EQ(Run(commandLine), before);
  }

  testing_support::TemporaryFolder appData_;
};
