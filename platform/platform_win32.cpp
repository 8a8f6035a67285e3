// The platform layer over Win32.
#include "platform/platform.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include <windows.h>
// After <windows.h>, which they need.
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

#include <boost/filesystem/exception.hpp>

#include "platform/windows_rules.h"

namespace platform {

static_assert(kComApartmentThreaded == COINIT_APARTMENTTHREADED);
static_assert(kComDisableOle1Dde == COINIT_DISABLE_OLE1DDE);
static_assert(kShellExecuteNoAsync == SEE_MASK_NOASYNC);
static_assert(kShowNormally == SW_SHOW);

namespace {

std::wstring Widened(UINT codePage, const std::string& text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int length = ::MultiByteToWideChar(codePage, 0, text.data(), size, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(codePage, 0, text.data(), size, wide.data(), length);
  return wide;
}

std::string Narrowed(UINT codePage, DWORD flags, std::wstring_view text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int length =
      ::WideCharToMultiByte(codePage, flags, text.data(), size, nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(codePage, flags, text.data(), size, narrow.data(), length, nullptr,
                        nullptr);
  return narrow;
}

// MessageBoxA reads its strings in the ANSI code page; the same conversion
// here keeps the launcher's own texts exactly as they always showed.
int ShowBox(const std::wstring& text, const std::string& caption, UINT style) {
  return ::MessageBoxW(nullptr, text.c_str(), Widened(CP_ACP, caption).c_str(), style);
}

}  // namespace

void Sleep(unsigned milliseconds) { ::Sleep(milliseconds); }

void RestrictDllSearchToSystemFolder() {
  // Looked up at run time: Vista and 7 without updates lack it.
  using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
  const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  if (kernel == nullptr) return;
  const auto setDefaultDllDirectories = reinterpret_cast<SetDefaultDllDirectoriesFunction>(
      reinterpret_cast<void*>(::GetProcAddress(kernel, "SetDefaultDllDirectories")));
  if (setDefaultDllDirectories != nullptr) setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

void SetEnvironment(const std::string& name, const std::string& value) {
  ::SetEnvironmentVariableA(name.c_str(), value.c_str());
}

bool StartSuspended(const std::string& executable, Process* started) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION information = {};
  if (!::CreateProcessA(executable.c_str(), nullptr, nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                        nullptr, nullptr, &startup, &information)) {
    return false;
  }
  started->process = information.hProcess;
  started->mainThread = information.hThread;
  return true;
}

void ResumeMainThread(const Process& started) { ::ResumeThread(started.mainThread); }

ErrorNumber LastError() { return ::GetLastError(); }

std::string CommandLineArguments() {
  // Not the line WinMain gets: MinGW's runtime ends an unquoted program name
  // at its first non-ASCII byte, leaving the rest of the name in the
  // arguments. No best-fit mapping either, so that a look-alike such as a
  // full-width dash never becomes the reset switch.
  return Narrowed(CP_ACP, WC_NO_BEST_FIT_CHARS, ArgumentsAfterProgramName(::GetCommandLineW()));
}

boost::filesystem::path OwnExecutablePath() {
  return WholePath([](wchar_t* buffer, std::size_t size) -> std::size_t {
    return ::GetModuleFileNameW(nullptr, buffer, static_cast<DWORD>(size));
  });
}

bool StartElevated(const boost::filesystem::path& file,
                   const boost::filesystem::path& workingDirectory) {
  const ElevationRequest description = ElevationRequestFor(file, workingDirectory);
  const HRESULT com = ::CoInitializeEx(nullptr, description.comInitialisation);
  SHELLEXECUTEINFOW request = {};
  request.cbSize = sizeof request;
  request.fMask = description.mask;
  request.lpVerb = description.verb.c_str();
  request.lpFile = description.file.c_str();
  request.lpParameters = description.parameters.c_str();
  request.lpDirectory = description.directory.empty() ? nullptr : description.directory.c_str();
  request.nShow = description.show;
  const bool started = ::ShellExecuteExW(&request) != FALSE;
  // The caller reads why it failed after COM is closed again.
  const DWORD error = ::GetLastError();
  if (SUCCEEDED(com)) ::CoUninitialize();
  ::SetLastError(error);
  return started;
}

void ShowMessage(const std::string& text, const std::string& caption,
                 const std::string& detailsUtf8, Focus focus) {
  const UINT foreground = focus == Focus::TakeForeground ? MB_SETFOREGROUND : 0;
  ShowBox(Widened(CP_ACP, text) + Widened(CP_UTF8, detailsUtf8), caption, MB_OK | foreground);
}

bool AskYesNo(const std::string& text, const std::string& caption) {
  return ShowBox(Widened(CP_ACP, text), caption, MB_YESNO) == IDYES;
}

std::string Utf8Name(const boost::filesystem::path& path) {
  return Narrowed(CP_UTF8, 0, path.native());
}

std::string SystemReason(ErrorNumber error) {
  wchar_t* message = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
      reinterpret_cast<wchar_t*>(&message), 0, nullptr);
  if (length == 0) return "Unknown error (" + std::to_string(error) + ")";
  std::wstring_view text(message, length);
  // Worded as Boost words it: no line end, no final period.
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n')) text.remove_suffix(1);
  if (!text.empty() && text.back() == L'.') text.remove_suffix(1);
  std::string reason = Narrowed(CP_UTF8, 0, text);
  ::LocalFree(message);
  return reason;
}

std::string Utf8FromAnsi(const std::string& text) {
  return Narrowed(CP_UTF8, 0, Widened(CP_ACP, text));
}

boost::filesystem::path RoamingAppDataFolder() {
  wchar_t folder[MAX_PATH] = {};
  const HRESULT result =
      ::SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder);
  if (FAILED(result) || folder[0] == L'\0') {
    // Without it the settings would land in whatever the current folder is.
    throw boost::filesystem::filesystem_error(
        "The roaming application-data folder is unknown",
        boost::system::error_code(HRESULT_CODE(result), boost::system::system_category()));
  }
  return folder;
}

ErrorNumber AcquireSessionLock(const std::string& name, unsigned timeoutMilliseconds,
                               SessionLock* held) {
  // "Local\\" keeps the lock within the user's session; the name is ASCII.
  const std::wstring fullName = L"Local\\" + std::wstring(name.begin(), name.end());
  const HANDLE mutex = ::CreateMutexW(nullptr, FALSE, fullName.c_str());
  if (mutex == nullptr) return ::GetLastError();
  const DWORD waited = ::WaitForSingleObject(mutex, timeoutMilliseconds);
  if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) {
    *held = mutex;
    return 0;
  }
  const ErrorNumber error = waited == WAIT_TIMEOUT ? kErrorWaitTimeout : ::GetLastError();
  ::CloseHandle(mutex);
  return error;
}

void ReleaseSessionLock(SessionLock held) {
  ::ReleaseMutex(held);
  ::CloseHandle(held);
}

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Closes the handle when it goes out of scope.
struct FileHandle {
  explicit FileHandle(HANDLE opened) : handle(opened) {}
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  ~FileHandle() {
    if (IsOpen()) ::CloseHandle(handle);
  }
  bool IsOpen() const { return handle != INVALID_HANDLE_VALUE; }
  HANDLE handle;
};

ErrorNumber WriteWhole(HANDLE file, std::string_view bytes) {
  while (!bytes.empty()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1 << 20));
    DWORD written = 0;
    if (!::WriteFile(file, bytes.data(), chunk, &written, nullptr)) return ::GetLastError();
    bytes.remove_prefix(written);
  }
  return 0;
}

ErrorNumber Flush(HANDLE file) { return ::FlushFileBuffers(file) ? 0 : ::GetLastError(); }

// A name beside the file that no other launcher picks: the process id and a
// counter, tried until one is free.
std::wstring Sibling(const std::wstring& file, unsigned attempt) {
  return file + L"." + std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(attempt) +
         L".tmp";
}

// Creates a new file beside `file` that did not exist before, so that a link
// planted at the name is never followed.
ErrorNumber CreateSibling(const std::wstring& file, std::wstring* created, HANDLE* opened) {
  for (unsigned attempt = 0;; ++attempt) {
    *created = Sibling(file, attempt);
    *opened = ::CreateFileW(created->c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
    if (*opened != INVALID_HANDLE_VALUE) return 0;
    const DWORD error = ::GetLastError();
    if ((error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) || attempt == 99)
      return error;
  }
}

// The path of the file that a link or junction at `file` names; `file` itself
// when it is none or cannot be opened.
std::wstring RealLocation(const std::wstring& file) {
  const FileHandle opened(::CreateFileW(file.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!opened.IsOpen()) return file;
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length = ::GetFinalPathNameByHandleW(opened.handle, buffer.data(),
                                                     static_cast<DWORD>(buffer.size()), 0);
    if (length == 0) return file;
    if (length < buffer.size()) return std::wstring(buffer.data(), length);
    buffer.resize(length + 1);
  }
}

// Hidden, system and the like: what a replace must keep of the old file.
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                  FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// ReplaceFileW is meant to keep them, but not every implementation does.
void RestoreAttributes(const std::wstring& file, DWORD before) {
  const DWORD now = ::GetFileAttributesW(file.c_str());
  if (now == INVALID_FILE_ATTRIBUTES || (now & kKeptAttributes) == (before & kKeptAttributes)) {
    return;
  }
  ::SetFileAttributesW(file.c_str(), (now & ~kKeptAttributes) | (before & kKeptAttributes));
}

// True when another program holds the file open without delete sharing, so
// that no replace can succeed. Asked first because some implementations of
// ReplaceFileW leave a file of their own behind when they fail.
bool IsHeldOpen(const std::wstring& file) {
  const FileHandle probe(
      ::CreateFileW(file.c_str(), DELETE, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr));
  return !probe.IsOpen() && ::GetLastError() == ERROR_SHARING_VIOLATION;
}

bool IsHeldOpenError(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
         error == ERROR_UNABLE_TO_REMOVE_REPLACED;
}

// The backup is a complete copy or the old one: never a part.
ErrorNumber CopyToBackup(const boost::filesystem::path& file,
                         const boost::filesystem::path& backup) {
  const DWORD standing = ::GetFileAttributesW(backup.c_str());
  if (standing != INVALID_FILE_ATTRIBUTES &&
      (standing & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) {
    return ERROR_ACCESS_DENIED;
  }
  std::wstring copy;
  HANDLE opened = INVALID_HANDLE_VALUE;
  ErrorNumber error = CreateSibling(backup.native(), &copy, &opened);
  if (error != 0) return error;
  ::CloseHandle(opened);
  // Over the empty file just made: that name is ours alone.
  if (!::CopyFileW(file.c_str(), copy.c_str(), FALSE)) {
    error = ::GetLastError();
  } else {
    const DWORD attributes = ::GetFileAttributesW(copy.c_str());
    if (attributes & FILE_ATTRIBUTE_READONLY) {
      ::SetFileAttributesW(copy.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    }
    const FileHandle written(::CreateFileW(copy.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
    error = written.IsOpen() ? Flush(written.handle) : ::GetLastError();
  }
  if (error == 0 && !::MoveFileExW(copy.c_str(), backup.c_str(),
                                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    error = ::GetLastError();
  }
  if (error != 0) ::DeleteFileW(copy.c_str());
  return error;
}

}  // namespace

ErrorNumber ReadWholeFile(const boost::filesystem::path& file, std::string* bytes) {
  const FileHandle in(::CreateFileW(file.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!in.IsOpen()) return ::GetLastError();
  bytes->clear();
  LARGE_INTEGER size = {};
  if (::GetFileSizeEx(in.handle, &size)) bytes->reserve(static_cast<std::size_t>(size.QuadPart));
  char chunk[64 * 1024];
  DWORD got = 0;
  for (;;) {
    if (!::ReadFile(in.handle, chunk, sizeof chunk, &got, nullptr)) return ::GetLastError();
    if (got == 0) return 0;
    bytes->append(chunk, got);
  }
}

SaveResult SaveByReplacing(const boost::filesystem::path& file, std::string_view bytes,
                           const boost::filesystem::path& backup) {
  const std::wstring target = RealLocation(file.native());
  std::wstring temporary;
  HANDLE opened = INVALID_HANDLE_VALUE;
  SaveResult result;
  result.error = CreateSibling(target, &temporary, &opened);
  if (result.error != 0) return result;
  {
    const FileHandle out(opened);
    result.error = WriteWhole(out.handle, bytes);
    if (result.error == 0) result.error = Flush(out.handle);
  }
  if (result.error != 0) {
    ::DeleteFileW(temporary.c_str());
    return result;
  }
  if (!backup.empty()) CopyToBackup(file, backup);
  const DWORD before = ::GetFileAttributesW(target.c_str());
  if (before == INVALID_FILE_ATTRIBUTES) {
    if (!::MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH)) {
      result.error = ::GetLastError();
      ::DeleteFileW(temporary.c_str());
    }
    return result;
  }
  if (IsHeldOpen(target)) {
    result = SaveResult{ERROR_SHARING_VIOLATION, true};
    ::DeleteFileW(temporary.c_str());
    return result;
  }
  if (::ReplaceFileW(target.c_str(), temporary.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                     nullptr, nullptr)) {
    RestoreAttributes(target, before);
    return result;
  }
  result.error = ::GetLastError();
  // Without a backup name this error means the old file is gone and the new
  // one still waits under its temporary name: finish the move.
  if (result.error == ERROR_UNABLE_TO_MOVE_REPLACEMENT &&
      ::MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH)) {
    result.error = 0;
    RestoreAttributes(target, before);
    return result;
  }
  result.heldOpen = IsHeldOpenError(result.error);
  ::DeleteFileW(temporary.c_str());
  return result;
}

ErrorNumber RewriteInPlace(const boost::filesystem::path& file, std::string_view bytes) {
  const FileHandle out(::CreateFileW(file.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!out.IsOpen()) return ::GetLastError();
  // Written over the old content, then cut to length: the file is never
  // seen empty.
  ErrorNumber error = WriteWhole(out.handle, bytes);
  if (error == 0 && !::SetEndOfFile(out.handle)) error = ::GetLastError();
  return error != 0 ? error : Flush(out.handle);
}

}  // namespace platform
