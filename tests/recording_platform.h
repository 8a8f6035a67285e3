// Controls and record of the recording stand-in for the platform layer.
//
// Every platform call is appended to `calls` as one line, e.g.
//   Sleep 250
//   SetEnvironment SteamAppId=487310
//   StartSuspended X-Plane.exe
//   ResumeMainThread
//   StartElevated <file> | <working directory> | <rest of the shell's request>
//   ShowMessage <caption> | <text> | details: <details, UTF-8>
//   ShowMessageInForeground <caption> | <text>
//   AskYesNo <caption> | <text>
// and answered from `script`. A message without details leaves out their
// part. The system's reason for error number N is "raison n° N", so that the
// details carry a non-ASCII reason.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <boost/filesystem/path.hpp>

#include "platform/platform.h"

namespace recording {

struct Script {
  boost::filesystem::path appData;  // What RoamingAppDataFolder answers.
  bool startSucceeds = true;
  platform::ErrorNumber startError = 0;
  bool elevationSucceeds = true;
  platform::ErrorNumber elevationError = 0;
  bool answerYes = false;
  boost::filesystem::path ownExecutable = "C:\\Games\\X-Plane 12\\CirrovaneXR.exe";
  // Called with each call's line before it is recorded, e.g. to look at the
  // files at the moment the simulator is resumed.
  std::function<void(const std::string&)> onCall;
};

extern Script script;
extern std::vector<std::string> calls;

// Forgets the calls and puts the script back to its defaults, answering the
// given folder as the roaming application-data folder.
void Reset(const boost::filesystem::path& appData);

}  // namespace recording
