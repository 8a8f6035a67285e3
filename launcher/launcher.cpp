#include "launcher/launcher.h"

#include <exception>

#include "launcher/failure_details.h"
#include "settings/settings_store.h"

namespace {

constexpr unsigned kStartupDelayMilliseconds = 250;

// Written while the simulator is suspended, so it is in place before the
// simulator or anything it loads reads the settings.
void ForceVrModeThenResume(const platform::Process& simulator, const std::string& productTitle) {
  try {
    SettingsStore settings("settings");
    settings.SetValue("Loading", "ForceVRMode", "1");
  } catch (const std::exception& failure) {
    // Never leave the simulator suspended: let it run, then say why VR mode was
    // not forced (in front of a simulator that may fill the screen) unless the file forces it.
    platform::ResumeMainThread(simulator);
    const auto* unsaved = dynamic_cast<const SettingsStore::Failure*>(&failure);
    if (unsaved != nullptr && unsaved->valueInPlace) return;
    platform::ShowMessage(
        "Cirrovane could not save its settings, so X-Plane was started without forcing VR "
        "mode.\n",
        productTitle, FailureDetails(failure, &simulator), platform::Focus::TakeForeground);
    return;
  }
  platform::ResumeMainThread(simulator);
}

void Launch(const std::string& commandLine) {
  platform::Sleep(kStartupDelayMilliseconds);
  platform::RestrictDllSearchToSystemFolder();

  const std::string simulatorExecutable = kSimulatorExecutable;
  const std::string productTitle = kProductTitle;
  const std::string simulatorName = kSimulatorName;

  if (commandLine.find(kResetSwitch) != std::string::npos && !ResetConfiguration(productTitle)) {
    return;
  }

  platform::SetEnvironment("SteamAppId", kStoreAppId);
  platform::Process simulator;
  const platform::ErrorNumber error = platform::StartSuspended(simulatorExecutable, &simulator);
  if (error != 0) {
    ReportLaunchFailure(error, simulatorName, simulatorExecutable, productTitle);
    return;
  }
  ForceVrModeThenResume(simulator, productTitle);
}

}  // namespace

int RunLauncher(const std::string& commandLine) {
  try {
    Launch(commandLine);
  } catch (...) {
    // A launcher has nothing useful to add by crashing; whatever could be
    // told to the user was told where it happened.
  }
  return 0;
}
