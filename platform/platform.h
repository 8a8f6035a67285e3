// The launcher's one door to the operating system.
//
// Every service the launcher and the settings store need from Windows is a
// plain function here. The Windows program links platform_win32.cpp; the host
// tests link a recording stand-in with the same functions instead, so the
// launch logic runs and is checked without Windows.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include <boost/filesystem/path.hpp>

namespace platform {

// A Win32 error number, as GetLastError returns it.
using ErrorNumber = std::uint32_t;

inline constexpr ErrorNumber kErrorFileNotFound = 2;
inline constexpr ErrorNumber kErrorPathNotFound = 3;
inline constexpr ErrorNumber kErrorWaitTimeout = 258;
inline constexpr ErrorNumber kErrorElevationRequired = 740;
inline constexpr ErrorNumber kErrorFileReadOnly = 6009;

// The handles of a started process. They are never closed: the launcher exits
// right after using them, which releases them.
struct Process {
  void* process = nullptr;
  void* mainThread = nullptr;
};

// Blocks the calling thread for the given time.
void Sleep(unsigned milliseconds);

// Limits where the process looks for DLLs it loads later to the system
// folder. Does nothing on systems that lack the service.
void RestrictDllSearchToSystemFolder();

// Sets a variable in the launcher's own environment, which processes started
// afterwards inherit. Failures are not reported.
void SetEnvironment(const std::string& name, const std::string& value);

// Starts the program with no command line, suspended, inheriting the
// environment and the current directory. The name is resolved against the
// current directory only. On failure returns false and LastError() tells why.
bool StartSuspended(const std::string& executable, Process* started);

// Lets a suspended process's main thread run. Failures are not reported.
void ResumeMainThread(const Process& started);

// The error number of the last platform call that failed.
ErrorNumber LastError();

// The command line without the program's own name, in the ANSI code page.
std::string CommandLineArguments();

// The full path of the running launcher's own executable, however long.
boost::filesystem::path OwnExecutablePath();

// Asks the shell to run the file elevated ("runas"), with an empty argument
// string, shown normally, in the given working directory; does not wait for
// it. On failure (the user refusing the prompt included) returns false and
// LastError() tells why.
bool StartElevated(const boost::filesystem::path& file,
                   const boost::filesystem::path& workingDirectory);

// Message boxes. The launcher's own texts and the caption are in the ANSI
// code page and show exactly as MessageBoxA would show them. What it adds
// about a failure (a path, the system's reason) comes as details in UTF-8:
// the ANSI code page cannot hold every folder name, and UTF-8, unlike wide
// strings (UTF-16 on Windows, UTF-32 on the host, where converting a path
// to one depends on the locale), is the same std::string in both builds.

// Whether a box brings itself to the foreground, for a message that follows
// a program that may have taken the whole screen.
enum class Focus { AsUsual, TakeForeground };

// Shows a message box with an OK button and no icon, owned by no window: the
// text with the details right after it.
void ShowMessage(const std::string& text, const std::string& caption,
                 const std::string& detailsUtf8 = "", Focus focus = Focus::AsUsual);

// Shows a message box with Yes and No buttons and no icon, owned by no
// window. Returns true when the user pressed Yes.
bool AskYesNo(const std::string& text, const std::string& caption);

// The path as the file system names it, in UTF-8.
std::string Utf8Name(const boost::filesystem::path& path);

// The system's own description of the error number in the user's language,
// in UTF-8, without a final period.
std::string SystemReason(ErrorNumber error);

// Text in the ANSI code page, in UTF-8.
std::string Utf8FromAnsi(const std::string& text);

// The user's roaming application-data folder. Throws
// boost::filesystem::filesystem_error when the shell cannot name it.
boost::filesystem::path RoamingAppDataFolder();

// A lock shared by every process of the user's session; nullptr when none is
// held.
using SessionLock = void*;

// Takes the session-wide lock of that name, waiting at most the given time; a
// lock left by a process that ended without releasing it counts as taken.
// Returns 0 and the held lock, or why it was not taken (kErrorWaitTimeout when
// the wait ran out).
ErrorNumber AcquireSessionLock(const std::string& name, unsigned timeoutMilliseconds,
                               SessionLock* held);

// Releases a lock taken by AcquireSessionLock, on the thread that took it.
void ReleaseSessionLock(SessionLock held);

// Reads the whole file, sharing it with every other reader and writer.
// Returns 0, or why it could not be read whole (kErrorFileNotFound or
// kErrorPathNotFound when there is no such file).
ErrorNumber ReadWholeFile(const boost::filesystem::path& file, std::string* bytes);

// What SaveByReplacing did.
struct SaveResult {
  ErrorNumber error = 0;  // 0 when the file holds the new content.
  // The new content was complete, but another program holds the file open
  // in a way that forbids replacing it. The file is unchanged.
  bool heldOpen = false;
};

// Gives the file the new content safely: resolves a symbolic link or junction
// at the path to the file it names, writes the content to a newly created,
// uniquely named file in that file's folder (never opening an existing one)
// and flushes it to disk. Only then, unless `backup` is empty, copies the file
// over its backup: the copy is made under a new name beside the backup, loses
// the read-only mark, is flushed and only then replaces the backup; anything
// else at the backup's name (a folder, a read-only file) is left as it is, as
// is the old backup when the copy fails, which does not stop the save. Then
// replaces the file with the new one, keeping the file's permissions and
// attributes, or moves it into place when there is no file yet. On failure
// the file is as it was and no new file is left behind.
SaveResult SaveByReplacing(const boost::filesystem::path& file, std::string_view bytes,
                           const boost::filesystem::path& backup);

// Overwrites an existing file's content where it stands, sharing it with
// other programs, and flushes it. Returns 0 or why it failed; a write that
// fails part way leaves the file partly rewritten.
ErrorNumber RewriteInPlace(const boost::filesystem::path& file, std::string_view bytes);

}  // namespace platform
