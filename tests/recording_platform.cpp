#include "tests/recording_platform.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <deque>
#include <map>
#include <set>
#include <sstream>
#include <utility>

#include <boost/filesystem/exception.hpp>
#include <boost/filesystem/operations.hpp>

#include "platform/windows_rules.h"

namespace recording {

Script script;
std::vector<std::string> calls;
std::vector<std::string> fileCalls;
int heldLocks = 0;
std::uint64_t clock = 0;

namespace {

struct FileCallFailure {
  std::string linePrefix;
  platform::ErrorNumber error;
  int times;  // 0: every time.
};
std::vector<FileCallFailure> failures;

// File calls left before the process ends (negative: it does not), and how.
int callsBeforeEnd = -1;
End ending = End::Killed;
bool ended = false;
// What a call answers once the process has ended.
constexpr platform::ErrorNumber kEnded = 1117;  // ERROR_IO_DEVICE

void Record(const std::string& call) {
  if (script.onCall) script.onCall(call);
  calls.push_back(call);
}

}  // namespace

void FailFileCall(const std::string& linePrefix, platform::ErrorNumber error, int times) {
  failures.push_back({linePrefix, error, times});
}

void EndProcessAfter(int fileCalls, End how) {
  callsBeforeEnd = fileCalls;
  ending = how;
}

bool ProcessEnded() { return ended; }

// What the process's end does to the files (see End).
void EndProcess(End how);

// Records a file call; the error a test scripted for it, else 0.
platform::ErrorNumber RecordFileCall(const std::string& line) {
  fileCalls.push_back(line);
  if (callsBeforeEnd-- == 0) {
    ended = true;
    EndProcess(ending);
  }
  if (ended) return kEnded;
  for (FileCallFailure& failure : failures) {
    if (line.rfind(failure.linePrefix, 0) != 0 || failure.times < 0) continue;
    if (failure.times > 0 && --failure.times == 0) failure.times = -1;
    return failure.error;
  }
  return 0;
}

void Reset(const boost::filesystem::path& appData) {
  script = Script();
  script.appData = appData;
  calls.clear();
  fileCalls.clear();
  failures.clear();
  heldLocks = 0;
  clock = 0;
  callsBeforeEnd = -1;
  ended = false;
  EndProcess(End::Killed);
}

}  // namespace recording

namespace platform {

using recording::Record;
using recording::script;

void Sleep(unsigned milliseconds) {
  Record("Sleep " + std::to_string(milliseconds));
  const std::uint64_t ticks = (milliseconds + script.timerTick - 1) / script.timerTick;
  recording::clock += ticks * script.timerTick;
}

std::uint64_t Milliseconds() { return recording::clock; }

std::uint32_t ProcessId() { return static_cast<std::uint32_t>(::getpid()); }

void RestrictDllSearchToSystemFolder() { Record("RestrictDllSearchToSystemFolder"); }

void SetEnvironment(const std::string& name, const std::string& value) {
  Record("SetEnvironment " + name + "=" + value);
}

ErrorNumber StartSuspended(const std::string& executable, Process* started) {
  Record("StartSuspended " + executable);
  if (script.startError != 0) return script.startError;
  static int simulator;
  started->mainThread = &simulator;
  started->processId = recording::kSimulatorProcessId;
  return 0;
}

void ResumeMainThread(const Process& started) {
  Record(started.mainThread != nullptr ? "ResumeMainThread" : "ResumeMainThread <no thread>");
}

boost::filesystem::path OwnExecutablePath() { return script.ownExecutable; }

ErrorNumber StartElevated(const boost::filesystem::path& file,
                          const boost::filesystem::path& workingDirectory) {
  const ElevationRequest request = ElevationRequestFor(file, workingDirectory);
  std::ostringstream line;
  line << "StartElevated " << request.file.string() << " | " << request.directory.string()
       << " | verb " << boost::filesystem::path(request.verb).string() << ", parameters \""
       << boost::filesystem::path(request.parameters).string() << "\", show " << request.show
       << std::hex << std::showbase << ", mask " << request.mask << ", COM "
       << request.comInitialisation;
  Record(line.str());
  return script.elevationError;
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

ErrorNumber RoamingAppDataFolder(boost::filesystem::path* folder) {
  if (script.appData.empty()) return kErrorPathNotFound;
  *folder = script.appData;
  return 0;
}

ErrorNumber AcquireSessionLock(const std::string& name, unsigned timeoutMilliseconds,
                               SessionLock* held) {
  if (const ErrorNumber error = recording::RecordFileCall("AcquireSessionLock " + name)) {
    return error;
  }
  recording::clock += std::min(script.lockHeldMilliseconds, timeoutMilliseconds);
  if (script.lockHeldMilliseconds > timeoutMilliseconds) return kErrorWaitTimeout;
  static int lock;
  *held = &lock;
  ++recording::heldLocks;
  return 0;
}

void ReleaseSessionLock(SessionLock /*held*/) {
  if (recording::RecordFileCall("ReleaseSessionLock") == 0) --recording::heldLocks;
}

}  // namespace platform

// The file calls over the host's files, answering with Win32's error numbers.
namespace {

namespace fs = boost::filesystem;

// The marks POSIX files have no place for (hidden, system and the like), by
// path; they move with a rename, as on Windows.
std::map<std::string, std::uint32_t> marks;

constexpr std::uint32_t kMarks = platform::kAttributeHidden | platform::kAttributeSystem |
                                 platform::kAttributeArchive |
                                 platform::kAttributeNotContentIndexed;

platform::ErrorNumber FromErrno(int error) {
  switch (error) {
    case ENOENT:
      return platform::kErrorFileNotFound;
    case ENOTDIR:
      return platform::kErrorPathNotFound;
    case EEXIST:
      return platform::kErrorAlreadyExists;
    case ENOSPC:
      return 112;  // ERROR_DISK_FULL
    case EBUSY:
      return platform::kErrorSharingViolation;
    default:
      return platform::kErrorAccessDenied;
  }
}

platform::ErrorNumber Checked(bool succeeded) { return succeeded ? 0 : FromErrno(errno); }

std::string NameOf(const fs::path& file) { return file.filename().string(); }

// What was written and not yet flushed, by path; it moves with a rename.
std::set<std::string> unflushed;

// Moves what the stand-in knows of a file along with a rename.
void Renamed(const fs::path& from, const fs::path& to) {
  marks[to.string()] = marks[from.string()];
  marks.erase(from.string());
  if (unflushed.erase(from.string()) != 0) unflushed.insert(to.string());
}

// What stands behind an OpenFile.
struct Opened {
  int descriptor;
  fs::path path;
};
std::map<platform::OpenFile, Opened> openFiles;
// What OpenFile points to: one distinct object each, never moved.
std::deque<char> handles;

// The file behind the handle; one that the process's end closed stands for
// nothing any more.
Opened& OpenedAs(platform::OpenFile file) {
  static Opened closed;
  const auto found = openFiles.find(file);
  if (found != openFiles.end()) return found->second;
  closed = {-1, "<closed>"};
  return closed;
}

void Close(platform::OpenFile file) {
  ::close(OpenedAs(file).descriptor);
  openFiles.erase(file);
}

bool WriteAll(int descriptor, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(descriptor, bytes.data(), bytes.size());
    if (written <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

platform::ErrorNumber AttributesAt(const fs::path& file, std::uint32_t* attributes) {
  struct stat status = {};
  if (::lstat(file.c_str(), &status) != 0) return FromErrno(errno);
  const auto marked = marks.find(file.string());
  *attributes = marked == marks.end() ? 0 : marked->second;
  if ((status.st_mode & S_IWUSR) == 0) *attributes |= platform::kAttributeReadOnly;
  if (S_ISDIR(status.st_mode)) *attributes |= platform::kAttributeDirectory;
  if (S_ISLNK(status.st_mode)) *attributes |= platform::kAttributeReparsePoint;
  return 0;
}

}  // namespace

namespace platform {

using recording::RecordFileCall;

ErrorNumber CreateFolders(const fs::path& folder) {
  if (const ErrorNumber error = RecordFileCall("CreateFolders " + folder.string())) return error;
  boost::system::error_code failed;
  fs::create_directories(folder, failed);
  return failed ? FromErrno(failed.value()) : 0;
}

ErrorNumber ReadWholeFile(const fs::path& file, std::string* bytes) {
  if (const ErrorNumber error = RecordFileCall("ReadWholeFile " + NameOf(file))) return error;
  const int descriptor = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) return FromErrno(errno);
  bytes->clear();
  char chunk[64 * 1024];
  ssize_t got = 0;
  while ((got = ::read(descriptor, chunk, sizeof chunk)) > 0) {
    bytes->append(chunk, static_cast<std::size_t>(got));
  }
  const int error = errno;
  ::close(descriptor);
  return got == 0 ? 0 : FromErrno(error);
}

ErrorNumber GetAttributes(const fs::path& file, std::uint32_t* attributes) {
  if (const ErrorNumber error = RecordFileCall("GetAttributes " + NameOf(file))) return error;
  return AttributesAt(file, attributes);
}

ErrorNumber RealLocation(const fs::path& file, fs::path* real) {
  if (const ErrorNumber error = RecordFileCall("RealLocation " + NameOf(file))) return error;
  boost::system::error_code failed;
  *real = fs::canonical(file, failed);
  return failed ? FromErrno(failed.value()) : 0;
}

ErrorNumber CreateNewFile(const fs::path& file, OpenFile* opened) {
  if (const ErrorNumber error = RecordFileCall("CreateNewFile " + NameOf(file))) return error;
  const int descriptor =
      ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (descriptor < 0) return errno == EEXIST ? platform::kErrorFileExists : FromErrno(errno);
  *opened = &handles.emplace_back();
  openFiles[*opened] = {descriptor, file};
  return 0;
}

ErrorNumber WriteToFile(OpenFile file, std::string_view bytes) {
  const Opened& opened = OpenedAs(file);
  if (const ErrorNumber error = RecordFileCall("WriteToFile " + NameOf(opened.path))) {
    // Part of it, as a full disk does; after the process's end, nothing.
    if (error == recording::kEnded) return error;
    WriteAll(opened.descriptor, bytes.substr(0, bytes.size() / 2));
    unflushed.insert(opened.path.string());
    return error;
  }
  unflushed.insert(opened.path.string());
  return Checked(WriteAll(opened.descriptor, bytes));
}

ErrorNumber SetOpenFileAttributes(OpenFile file, std::uint32_t attributes) {
  const Opened& opened = OpenedAs(file);
  if (const ErrorNumber error = RecordFileCall("SetOpenFileAttributes " + NameOf(opened.path))) {
    return error;
  }
  marks[opened.path.string()] = attributes & kMarks;
  return 0;
}

ErrorNumber FlushToDisk(OpenFile file) {
  const Opened& opened = OpenedAs(file);
  if (const ErrorNumber error = RecordFileCall("FlushToDisk " + NameOf(opened.path))) return error;
  unflushed.erase(opened.path.string());
  return Checked(::fsync(opened.descriptor) == 0);
}

ErrorNumber RenameOpenFileOver(OpenFile file, const fs::path& to) {
  Opened& opened = OpenedAs(file);
  if (const ErrorNumber error =
          RecordFileCall("RenameOpenFileOver " + NameOf(opened.path) + " -> " + NameOf(to))) {
    return error;
  }
  if (::rename(opened.path.c_str(), to.c_str()) != 0) return FromErrno(errno);
  Renamed(opened.path, to);
  opened.path = to;
  return 0;
}

void CloseFile(OpenFile file) {
  if (RecordFileCall("CloseFile " + NameOf(OpenedAs(file).path)) == 0) Close(file);
}

ErrorNumber RenameFileOver(const fs::path& from, const fs::path& to) {
  if (const ErrorNumber error =
          RecordFileCall("RenameFileOver " + NameOf(from) + " -> " + NameOf(to))) {
    return error;
  }
  if (::rename(from.c_str(), to.c_str()) != 0) return FromErrno(errno);
  Renamed(from, to);
  return 0;
}

ErrorNumber RemoveFile(const fs::path& file) {
  if (const ErrorNumber error = RecordFileCall("RemoveFile " + NameOf(file))) return error;
  if (::unlink(file.c_str()) != 0) return FromErrno(errno);
  marks.erase(file.string());
  unflushed.erase(file.string());
  return 0;
}

ErrorNumber ProgramsHoldingFile(const fs::path& file, std::vector<FileHolder>* holders) {
  recording::Record("ProgramsHoldingFile " + file.string());
  if (recording::script.holdersError == 0) *holders = recording::script.holders;
  return recording::script.holdersError;
}

ErrorNumber ListFolder(const fs::path& folder, std::vector<fs::path>* names) {
  if (const ErrorNumber error = RecordFileCall("ListFolder " + folder.filename().string())) {
    return error;
  }
  boost::system::error_code failed;
  names->clear();
  for (fs::directory_iterator entry(folder, failed), end; !failed && entry != end;
       entry.increment(failed)) {
    names->push_back(entry->path().filename());
  }
  return failed ? FromErrno(failed.value()) : 0;
}

}  // namespace platform

namespace recording {

void Mark(const fs::path& file, std::uint32_t attributes) { marks[file.string()] = attributes; }

void EndProcess(End how) {
  if (how == End::Killed) {
    // What was written stays, flushed or not.
    while (!openFiles.empty()) Close(openFiles.begin()->first);
    unflushed.clear();
    return;
  }
  // NTFS keeps a file's new length before its content.
  for (const std::string& file : unflushed) {
    struct stat status = {};
    const int descriptor = ::open(file.c_str(), O_WRONLY | O_CLOEXEC);
    if (descriptor >= 0 && ::fstat(descriptor, &status) == 0) {
      WriteAll(descriptor, std::string(static_cast<std::size_t>(status.st_size), '\0'));
    }
    if (descriptor >= 0) ::close(descriptor);
  }
  unflushed.clear();
}

}  // namespace recording
