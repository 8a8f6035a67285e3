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
//   ProgramsHoldingFile <path>
// and answered from `script`. A message without details leaves out their
// part. The system's reason for error number N is "raison n° N", so that the
// details carry a non-ASCII reason.
//
// The file calls work on real files, as the Win32 ones do, and are recorded
// apart in `fileCalls`, e.g.
//   AcquireSessionLock Cirrovane XR settings store settings
//   ReadWholeFile <file name>
//   CreateNewFile <file name>
//   WriteToFile <created name>
//   FlushToDisk <created name>
//   RenameOpenFileOver <created name> -> <to name>
//   ReleaseSessionLock
// A test makes any of them fail with FailFileCall, before it changes
// anything (a write does half of its work first, as on a full disk); the
// stand-in itself decides nothing. The clock (Milliseconds) moves only by
// Sleep, rounded up to the script's timer tick, and by a lock wait.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <boost/filesystem/path.hpp>

#include "platform/platform.h"

namespace recording {

// The process id of the simulator that StartSuspended starts.
inline constexpr std::uint32_t kSimulatorProcessId = 4242;

struct Script {
  boost::filesystem::path appData;  // What RoamingAppDataFolder answers.
  platform::ErrorNumber startError = 0;
  platform::ErrorNumber elevationError = 0;
  bool answerYes = false;
  boost::filesystem::path ownExecutable = "C:\\Games\\X-Plane 12\\CirrovaneXR.exe";
  // Called with each call's line before it is recorded, e.g. to look at the
  // files at the moment the simulator is resumed.
  std::function<void(const std::string&)> onCall;
  unsigned timerTick = 1;  // Windows' default is 15.6 ms.
  // How long another process holds each session lock.
  unsigned lockHeldMilliseconds = 0;
  // What ProgramsHoldingFile answers, unless it fails with holdersError.
  std::vector<platform::FileHolder> holders;
  platform::ErrorNumber holdersError = 0;
};

// How the process ends part way.
enum class End {
  Killed,    // Open files are closed.
  PowerCut,  // What was written and not flushed reads as zeroes, at its length.
};

// Ends the process when `fileCalls` more file calls have been performed:
// every later call is recorded, changes nothing and fails.
void EndProcessAfter(int fileCalls, End how);
bool ProcessEnded();

// Gives the file hidden, system and the like, which POSIX files have no
// place for.
void Mark(const boost::filesystem::path& file, std::uint32_t attributes);

// Fails the next `times` file calls whose line starts with `linePrefix`
// with the error (every one when times is 0).
void FailFileCall(const std::string& linePrefix, platform::ErrorNumber error, int times = 0);

extern Script script;
extern std::vector<std::string> calls;
extern std::vector<std::string> fileCalls;
// Session locks taken and not yet released.
extern int heldLocks;
extern std::uint64_t clock;

// Records a file call's line; the error a test scripted for it, else 0.
platform::ErrorNumber RecordFileCall(const std::string& line);

// Forgets the calls and puts the script back to its defaults, answering the
// given folder as the roaming application-data folder.
void Reset(const boost::filesystem::path& appData);

}  // namespace recording
