// The launcher's one door to the operating system: every service the
// launcher and the settings store need from Windows is a plain function here.
// The Windows program links platform_win32.cpp, the host tests a recording
// stand-in with the same functions.
//
// A call that can fail returns an ErrorNumber: 0 when it did what it says,
// else the Win32 error number of why not, and then it has changed nothing
// unless it says otherwise. File calls take paths of any length.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <boost/filesystem/path.hpp>

namespace platform {

// A Win32 error number, as GetLastError returns it.
using ErrorNumber = std::uint32_t;

inline constexpr ErrorNumber kErrorFileNotFound = 2;
inline constexpr ErrorNumber kErrorPathNotFound = 3;
inline constexpr ErrorNumber kErrorAccessDenied = 5;
inline constexpr ErrorNumber kErrorSharingViolation = 32;
inline constexpr ErrorNumber kErrorLockViolation = 33;
inline constexpr ErrorNumber kErrorHandleDiskFull = 39;
inline constexpr ErrorNumber kErrorNotSupported = 50;
inline constexpr ErrorNumber kErrorBadNetPath = 53;
inline constexpr ErrorNumber kErrorNetNameDeleted = 64;
inline constexpr ErrorNumber kErrorBadNetName = 67;
inline constexpr ErrorNumber kErrorFileExists = 80;
inline constexpr ErrorNumber kErrorDiskFull = 112;
inline constexpr ErrorNumber kErrorAlreadyExists = 183;
inline constexpr ErrorNumber kErrorWaitTimeout = 258;
inline constexpr ErrorNumber kErrorElevationRequired = 740;
inline constexpr ErrorNumber kErrorCancelled = 1223;
inline constexpr ErrorNumber kErrorNetworkUnreachable = 1231;
inline constexpr ErrorNumber kErrorUnsupportedType = 1630;
inline constexpr ErrorNumber kErrorFileReadOnly = 6009;

// A started process: its id, and the handle of its main thread. The handle is
// never closed: the launcher exits right after using it, which releases it.
struct Process {
  void* mainThread = nullptr;
  std::uint32_t processId = 0;
};

// Blocks the thread for at least that long, rounded up to the timer's tick.
void Sleep(unsigned milliseconds);

// Milliseconds since a fixed moment, on a clock that never goes back.
std::uint64_t Milliseconds();

// The running process's id, which no other running process has.
std::uint32_t ProcessId();

// Limits where the process looks for DLLs it loads later to the system
// folder. Does nothing on systems that lack the service.
void RestrictDllSearchToSystemFolder();

// Sets a variable in the launcher's own environment, which processes started
// afterwards inherit.
void SetEnvironment(const std::string& name, const std::string& value);

// Starts the program, looked for in the current directory only, with no
// command line, suspended, inheriting the environment and that directory.
ErrorNumber StartSuspended(const std::string& executable, Process* started);

void ResumeMainThread(const Process& started);

// The command line without the program's own name, in the ANSI code page.
std::string CommandLineArguments();

// The full path of the running launcher's own executable, however long.
boost::filesystem::path OwnExecutablePath();

// Asks the shell to run the file elevated ("runas"), with an empty argument
// string, shown normally, in the given working directory; does not wait for
// it. The user refusing the prompt is a failure too.
ErrorNumber StartElevated(const boost::filesystem::path& file,
                          const boost::filesystem::path& workingDirectory);

// Message boxes, owned by no window and without an icon. The launcher's own
// texts and the caption are in the ANSI code page, shown as MessageBoxA
// would. Details of a failure (a path, the system's reason) come in UTF-8,
// which holds every folder name and is the same std::string in both builds.

// Whether a box brings itself to the foreground and stays above other
// windows, in front of a program that may take the whole screen after it.
enum class Focus { AsUsual, TakeForeground };

// An OK box: the text with the details right after it.
void ShowMessage(const std::string& text, const std::string& caption,
                 const std::string& detailsUtf8 = "", Focus focus = Focus::AsUsual);

// A Yes and No box; true when the user pressed Yes.
bool AskYesNo(const std::string& text, const std::string& caption);

// The path as the file system names it, in UTF-8.
std::string Utf8Name(const boost::filesystem::path& path);

// The system's own description of the error number in the user's language,
// in UTF-8, without a final period.
std::string SystemReason(ErrorNumber error);

// Text in the ANSI code page, in UTF-8.
std::string Utf8FromAnsi(const std::string& text);

// The user's roaming application-data folder, as the shell names it; where the
// shell fails without a Win32 error number, its HRESULT stands in for one.
ErrorNumber RoamingAppDataFolder(boost::filesystem::path* folder);

// A lock shared by every process of the user's terminal session (not across
// sessions: fast user switching, a remote desktop); nullptr when none is held.
using SessionLock = void*;

// Takes the lock of that name, waiting at most the given time
// (kErrorWaitTimeout when the wait ran out); a lock left by a process that
// ended without releasing it counts as taken. kErrorAccessDenied when another
// process holds it that this one may not wait for (an elevated one).
ErrorNumber AcquireSessionLock(const std::string& name, unsigned timeoutMilliseconds,
                               SessionLock* held);

// Releases a lock taken by AcquireSessionLock, on the thread that took it.
void ReleaseSessionLock(SessionLock held);

// Files. A path names what stands there: a symbolic link or junction is not
// followed, except where a call says so.

// File attributes, as Windows numbers them.
inline constexpr std::uint32_t kAttributeReadOnly = 0x1;
inline constexpr std::uint32_t kAttributeHidden = 0x2;
inline constexpr std::uint32_t kAttributeSystem = 0x4;
inline constexpr std::uint32_t kAttributeDirectory = 0x10;
inline constexpr std::uint32_t kAttributeArchive = 0x20;
inline constexpr std::uint32_t kAttributeReparsePoint = 0x400;
inline constexpr std::uint32_t kAttributeNotContentIndexed = 0x2000;

// Creates the folder and any missing parents; an existing folder is fine.
ErrorNumber CreateFolders(const boost::filesystem::path& folder);

// Reads the whole file, following a link, sharing it with every other reader
// and writer.
ErrorNumber ReadWholeFile(const boost::filesystem::path& file, std::string* bytes);

ErrorNumber GetAttributes(const boost::filesystem::path& file, std::uint32_t* attributes);

// The full path of the file that a link at `file` names, or of `file` itself
// when it is no link.
ErrorNumber RealLocation(const boost::filesystem::path& file, boost::filesystem::path* real);

// An open file; nullptr when none is open.
using OpenFile = void*;

// Creates the file and opens it for writing, with delete access, shared for
// reading and deleting only. Fails (kErrorFileExists or kErrorAlreadyExists)
// when anything stands at its name, so a planted link is never followed, and
// with kErrorAccessDenied where a deleted file's name is still held open.
ErrorNumber CreateNewFile(const boost::filesystem::path& file, OpenFile* opened);
// Appends the bytes; a failure may leave part of them written.
ErrorNumber WriteToFile(OpenFile file, std::string_view bytes);
ErrorNumber SetOpenFileAttributes(OpenFile file, std::uint32_t attributes);
// Waits until what was written is on the disk.
ErrorNumber FlushToDisk(OpenFile file);
// Renames the open file to `to` in one step, replacing a file there.
// kErrorNotSupported where the file system cannot rename an open file.
ErrorNumber RenameOpenFileOver(OpenFile file, const boost::filesystem::path& to);
void CloseFile(OpenFile file);

// RenameOpenFileOver for a closed file, by its name.
ErrorNumber RenameFileOver(const boost::filesystem::path& from, const boost::filesystem::path& to);

// Deletes the file, or the link itself; never a folder.
ErrorNumber RemoveFile(const boost::filesystem::path& file);

// The names of the folder's entries, without "." and "..".
ErrorNumber ListFolder(const boost::filesystem::path& folder,
                       std::vector<boost::filesystem::path>* names);

// A program holding a file open: its process, and the name Windows shows for
// it, in UTF-8 ("" where it has none).
struct FileHolder {
  std::uint32_t processId = 0;
  std::string nameUtf8;
};

// The programs holding the file (a link's target) open; none without the
// Restart Manager.
ErrorNumber ProgramsHoldingFile(const boost::filesystem::path& file,
                                std::vector<FileHolder>* holders);

}  // namespace platform
