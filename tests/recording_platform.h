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
//
// The settings store's file operations work on real files, as the Win32 ones
// do, and are recorded apart in `fileCalls`, e.g.
//   AcquireSessionLock Cirrovane XR settings store settings
//   ReadWholeFile <file name>
//   CopyToBackup <file name> -> <backup name>
//   SaveByReplacing <file name>
//   RewriteInPlace <file name>
//   ReleaseSessionLock
// Each can be scripted to fail with a given error number before it changes
// anything, so that every branch of the store can be driven.
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

  platform::ErrorNumber lockError = 0;
  platform::ErrorNumber readError = 0;
  platform::ErrorNumber backupError = 0;
  // The temporary file is created and half written, then the write fails.
  platform::ErrorNumber temporaryWriteError = 0;
  // The replace is refused as when another program holds the file open.
  bool replaceRefused = false;
  platform::ErrorNumber inPlaceError = 0;
};

extern Script script;
extern std::vector<std::string> calls;
extern std::vector<std::string> fileCalls;
// Session locks taken and not yet released.
extern int heldLocks;

// Forgets the calls and puts the script back to its defaults, answering the
// given folder as the roaming application-data folder.
void Reset(const boost::filesystem::path& appData);

}  // namespace recording
