#include <exception>

#include "launcher/failure_details.h"
#include "launcher/launcher.h"
#include "settings/settings_store.h"

bool ResetConfiguration(const std::string& productTitle) {
  if (!platform::AskYesNo("Are you sure that you want to clear all Cirrovane settings?",
                          productTitle)) {
    return false;
  }
  try {
    SettingsStore settings("settings");
    settings.DeleteFiles();
    SettingsStore windowPositions("window_positions");
    windowPositions.DeleteFiles();
  } catch (const std::exception& failure) {
    // A file held open by a running simulator, or a read-only one: launching
    // now would start with settings the user asked to throw away.
    platform::ShowMessage("Cirrovane could not clear its settings, so X-Plane was not started.\n",
                          productTitle, FailureDetails(failure, nullptr));
    return false;
  }
  platform::ShowMessage("Cirrovane's settings have been cleared.  Cirrovane will now launch.",
                        productTitle);
  return true;
}
