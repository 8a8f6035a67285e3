// A launcher run against the recording platform with its own app-data folder.
#pragma once

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "launcher/launcher.h"
#include "tests/recording_platform.h"
#include "tests/test_support.h"

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

  testing_support::TemporaryFolder appData_;
};
