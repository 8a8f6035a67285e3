// The launch sequence: start the simulator suspended, force VR mode in the
// settings while it cannot run yet, then let it go.
#pragma once

#include <string>

#include "platform/platform.h"

inline constexpr char kSimulatorName[] = "X-Plane";
inline constexpr char kSimulatorExecutable[] = "X-Plane.exe";
inline constexpr char kStoreAppId[] = "487310";
inline constexpr char kResetSwitch[] = "-ResetConfig";

// The whole program. Given the command line without the program's own name;
// returns the exit status, which is 0 on every path, exceptions included.
int RunLauncher(const std::string& commandLine);

// Asks whether to clear the saved settings and, on Yes, deletes the files and
// backups of the "settings" and "window_positions" stores and says so.
// Returns true when the launch should go on.
bool ResetConfiguration(const std::string& productTitle);

// Tells the user why the simulator did not start, or restarts the launcher
// elevated when Windows says the simulator needs administrator rights.
void ReportLaunchFailure(platform::ErrorNumber error, const std::string& simulatorName,
                         const std::string& simulatorExecutable, const std::string& productTitle);
