#include "tests/recording_platform.h"

#include <boost/filesystem/exception.hpp>

namespace recording {

Script script;
std::vector<std::string> calls;

namespace {

platform::ErrorNumber lastError = 0;

void Record(const std::string& call) {
  if (script.onCall) script.onCall(call);
  calls.push_back(call);
}

}  // namespace

void Reset(const boost::filesystem::path& appData) {
  script = Script();
  script.appData = appData;
  calls.clear();
  lastError = 0;
}

}  // namespace recording

namespace platform {

using recording::Record;
using recording::script;

void Sleep(unsigned milliseconds) { Record("Sleep " + std::to_string(milliseconds)); }

void RestrictDllSearchToSystemFolder() { Record("RestrictDllSearchToSystemFolder"); }

void SetEnvironment(const std::string& name, const std::string& value) {
  Record("SetEnvironment " + name + "=" + value);
}

bool StartSuspended(const std::string& executable, Process* started) {
  Record("StartSuspended " + executable);
  if (!script.startSucceeds) {
    recording::lastError = script.startError;
    return false;
  }
  static int simulator;
  started->process = &simulator;
  started->mainThread = &simulator;
  return true;
}

void ResumeMainThread(const Process& started) {
  Record(started.mainThread != nullptr ? "ResumeMainThread" : "ResumeMainThread <no thread>");
}

ErrorNumber LastError() { return recording::lastError; }

boost::filesystem::path OwnExecutablePath() { return script.ownExecutable; }

bool StartElevated(const boost::filesystem::path& file,
                   const boost::filesystem::path& workingDirectory) {
  Record("StartElevated " + file.string() + " | " + workingDirectory.string());
  if (!script.elevationSucceeds) recording::lastError = script.elevationError;
  return script.elevationSucceeds;
}

void ShowMessage(const std::string& text, const std::string& caption) {
  Record("ShowMessage " + caption + " | " + text);
}

bool AskYesNo(const std::string& text, const std::string& caption) {
  Record("AskYesNo " + caption + " | " + text);
  return script.answerYes;
}

boost::filesystem::path RoamingAppDataFolder() {
  if (script.appData.empty()) {
    throw boost::filesystem::filesystem_error(
        "The roaming application-data folder is unknown",
        boost::system::errc::make_error_code(boost::system::errc::no_such_file_or_directory));
  }
  return script.appData;
}

}  // namespace platform
