#include "tests/recording_platform.h"

#include <sstream>

#include <boost/filesystem/exception.hpp>

#include "platform/windows_rules.h"

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
  const ElevationRequest request = ElevationRequestFor(file, workingDirectory);
  std::ostringstream line;
  line << "StartElevated " << request.file.string() << " | " << request.directory.string()
       << " | verb " << boost::filesystem::path(request.verb).string() << ", parameters \""
       << boost::filesystem::path(request.parameters).string() << "\", show " << request.show
       << std::hex << std::showbase << ", mask " << request.mask << ", COM "
       << request.comInitialisation;
  Record(line.str());
  if (!script.elevationSucceeds) recording::lastError = script.elevationError;
  return script.elevationSucceeds;
}

void ShowMessage(const std::string& text, const std::string& caption,
                 const std::string& detailsUtf8, Focus focus) {
  const char* name = focus == Focus::TakeForeground ? "ShowMessageInForeground " : "ShowMessage ";
  Record(name + caption + " | " + text + (detailsUtf8.empty() ? "" : " | details: " + detailsUtf8));
}

bool AskYesNo(const std::string& text, const std::string& caption) {
  Record("AskYesNo " + caption + " | " + text);
  return script.answerYes;
}

std::string Utf8Name(const boost::filesystem::path& path) { return path.string(); }

std::string SystemReason(ErrorNumber error) { return "raison n\u00b0 " + std::to_string(error); }

std::string Utf8FromAnsi(const std::string& text) { return text; }

boost::filesystem::path RoamingAppDataFolder() {
  if (script.appData.empty()) {
    throw boost::filesystem::filesystem_error(
        "The roaming application-data folder is unknown",
        boost::system::errc::make_error_code(boost::system::errc::no_such_file_or_directory));
  }
  return script.appData;
}

}  // namespace platform
