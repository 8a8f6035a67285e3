#include "tests/recording_platform.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <iterator>
#include <sstream>

#include <boost/filesystem/exception.hpp>
#include <boost/filesystem/operations.hpp>

#include "platform/windows_rules.h"

namespace recording {

Script script;
std::vector<std::string> calls;
std::vector<std::string> fileCalls;
int heldLocks = 0;

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
  fileCalls.clear();
  heldLocks = 0;
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

// The store's file operations over the host's files, with Win32's error
// numbers for what the store tells apart.
namespace {

namespace fs = boost::filesystem;

constexpr platform::ErrorNumber kAccessDenied = 5;
constexpr platform::ErrorNumber kSharingViolation = 32;
constexpr platform::ErrorNumber kWriteFault = 29;

void RecordFile(const std::string& call) { recording::fileCalls.push_back(call); }

// Creates a new file beside `file`, never opening an existing entry (a
// planted link included); returns its descriptor and name.
int CreateSibling(const fs::path& file, fs::path* created) {
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    *created = file;
    *created += "." + std::to_string(::getpid()) + "-" + std::to_string(attempt) + ".tmp";
    const int descriptor =
        ::open(created->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (descriptor >= 0 || errno != EEXIST) return descriptor;
  }
  return -1;
}

bool WriteAll(int descriptor, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(descriptor, bytes.data(), bytes.size());
    if (written <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return ::fsync(descriptor) == 0;
}

bool ReadBytes(const fs::path& file, std::string* bytes) {
  std::ifstream in(file.c_str(), std::ios::binary);
  if (!in) return false;
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

bool IsUnwritableTarget(const fs::path& file) {
  boost::system::error_code unknown;
  const fs::file_status status = fs::status(file, unknown);
  return fs::is_directory(status) ||
         (fs::exists(status) && (status.permissions() & fs::owner_write) == 0);
}

platform::ErrorNumber CopyToBackup(const fs::path& file, const fs::path& backup) {
  RecordFile("CopyToBackup " + file.filename().string() + " -> " + backup.filename().string());
  if (recording::script.backupError != 0) return recording::script.backupError;
  if (!fs::is_regular_file(file) || IsUnwritableTarget(backup)) return kAccessDenied;
  std::string bytes;
  if (!ReadBytes(file, &bytes)) return kAccessDenied;
  fs::path copy;
  const int descriptor = CreateSibling(backup, &copy);
  if (descriptor < 0) return kAccessDenied;
  const bool written = WriteAll(descriptor, bytes);
  ::close(descriptor);
  boost::system::error_code failed;
  if (written) fs::rename(copy, backup, failed);
  if (!written || failed) {
    fs::remove(copy, failed);
    return kWriteFault;
  }
  return 0;
}

}  // namespace

namespace platform {

ErrorNumber AcquireSessionLock(const std::string& name, unsigned /*timeoutMilliseconds*/,
                               SessionLock* held) {
  RecordFile("AcquireSessionLock " + name);
  if (script.lockError != 0) return script.lockError;
  static int lock;
  *held = &lock;
  ++recording::heldLocks;
  return 0;
}

void ReleaseSessionLock(SessionLock /*held*/) {
  RecordFile("ReleaseSessionLock");
  --recording::heldLocks;
}

ErrorNumber ReadWholeFile(const fs::path& file, std::string* bytes) {
  RecordFile("ReadWholeFile " + file.filename().string());
  if (script.readError != 0) return script.readError;
  if (!fs::exists(file)) return kErrorFileNotFound;
  if (fs::is_directory(file)) return kAccessDenied;
  return ReadBytes(file, bytes) ? 0 : kAccessDenied;
}

SaveResult SaveByReplacing(const fs::path& file, std::string_view bytes, const fs::path& backup) {
  RecordFile("SaveByReplacing " + file.filename().string());
  boost::system::error_code unknown;
  const fs::path resolved = fs::canonical(file, unknown);
  const fs::path target = unknown ? file : resolved;
  SaveResult result;
  fs::path temporary;
  const int descriptor = CreateSibling(target, &temporary);
  if (descriptor < 0) {
    result.error = kAccessDenied;
    return result;
  }
  // As the system's replace does: the file keeps its own permissions.
  struct stat before = {};
  const bool existed = ::stat(target.c_str(), &before) == 0;
  if (existed) ::fchmod(descriptor, before.st_mode & 07777);
  bool written = false;
  if (script.temporaryWriteError != 0) {
    WriteAll(descriptor, bytes.substr(0, bytes.size() / 2));
    result.error = script.temporaryWriteError;
  } else {
    written = WriteAll(descriptor, bytes);
    if (!written) result.error = kWriteFault;
  }
  ::close(descriptor);
  if (written && !backup.empty()) CopyToBackup(file, backup);
  if (written && existed && script.replaceRefused) {
    result = SaveResult{kSharingViolation, true};
  } else if (written && ::rename(temporary.c_str(), target.c_str()) != 0) {
    result.error = kAccessDenied;
  }
  if (result.error != 0) fs::remove(temporary, unknown);
  return result;
}

ErrorNumber RewriteInPlace(const fs::path& file, std::string_view bytes) {
  RecordFile("RewriteInPlace " + file.filename().string());
  if (script.inPlaceError != 0) return script.inPlaceError;
  const int descriptor = ::open(file.c_str(), O_WRONLY | O_CLOEXEC);
  if (descriptor < 0) return kSharingViolation;
  const bool written =
      WriteAll(descriptor, bytes) && ::ftruncate(descriptor, static_cast<off_t>(bytes.size())) == 0;
  ::close(descriptor);
  return written ? 0 : kWriteFault;
}

}  // namespace platform
