// The platform layer over Win32.
#include "platform/platform.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include <windows.h>
// After <windows.h>, which they need.
#include <objbase.h>
#include <restartmanager.h>
#include <shellapi.h>
#include <shlobj.h>

#include "platform/windows_rules.h"

namespace platform {

static_assert(kComApartmentThreaded == COINIT_APARTMENTTHREADED &&
              kComDisableOle1Dde == COINIT_DISABLE_OLE1DDE &&
              kShellExecuteNoAsync == SEE_MASK_NOASYNC && kShowNormally == SW_SHOW &&
              kFinalNameForms[0] == VOLUME_NAME_DOS && kFinalNameForms[1] == VOLUME_NAME_GUID &&
              kFinalNameForms[2] == FILE_NAME_OPENED);
// Every error number of platform.h but 740, which mingw-w64's headers lack.
static_assert(
    kErrorFileNotFound == ERROR_FILE_NOT_FOUND && kErrorPathNotFound == ERROR_PATH_NOT_FOUND &&
    kErrorAccessDenied == ERROR_ACCESS_DENIED &&
    kErrorSharingViolation == ERROR_SHARING_VIOLATION &&
    kErrorLockViolation == ERROR_LOCK_VIOLATION && kErrorHandleDiskFull == ERROR_HANDLE_DISK_FULL &&
    kErrorNotSupported == ERROR_NOT_SUPPORTED && kErrorBadNetPath == ERROR_BAD_NETPATH &&
    kErrorNetNameDeleted == ERROR_NETNAME_DELETED && kErrorBadNetName == ERROR_BAD_NET_NAME &&
    kErrorFileExists == ERROR_FILE_EXISTS && kErrorDiskFull == ERROR_DISK_FULL &&
    kErrorAlreadyExists == ERROR_ALREADY_EXISTS && kErrorWaitTimeout == WAIT_TIMEOUT &&
    kErrorCancelled == ERROR_CANCELLED && kErrorNetworkUnreachable == ERROR_NETWORK_UNREACHABLE &&
    kErrorUnsupportedType == ERROR_UNSUPPORTED_TYPE && kErrorFileReadOnly == ERROR_FILE_READ_ONLY &&
    kErrorWriteFault == ERROR_WRITE_FAULT && kErrorMoreData == ERROR_MORE_DATA);

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

template <typename Function>
Function Entry(HMODULE library, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(library, name)));
}

// MessageBoxA reads its strings in the ANSI code page; the same conversion
// here keeps the launcher's own texts exactly as they always showed.
int ShowBox(const std::wstring& text, const std::string& caption, UINT style) {
  return ::MessageBoxW(nullptr, text.c_str(), Widened(CP_ACP, caption).c_str(), style);
}

}  // namespace

void Sleep(unsigned milliseconds) { ::Sleep(milliseconds); }

std::uint64_t Milliseconds() { return ::GetTickCount64(); }

std::uint32_t ProcessId() { return ::GetCurrentProcessId(); }

void RestrictDllSearchToSystemFolder() {
  // Looked up at run time: Vista and 7 without updates lack it.
  const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  const auto searchSystemFolder =
      kernel ? Entry<BOOL(WINAPI*)(DWORD)>(kernel, "SetDefaultDllDirectories") : nullptr;
  if (searchSystemFolder != nullptr) searchSystemFolder(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

void SetEnvironment(const std::string& name, const std::string& value) {
  ::SetEnvironmentVariableA(name.c_str(), value.c_str());
}

ErrorNumber StartSuspended(const std::string& executable, Process* started) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION information = {};
  if (!::CreateProcessA(executable.c_str(), nullptr, nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                        nullptr, nullptr, &startup, &information)) {
    return ::GetLastError();
  }
  ::CloseHandle(information.hProcess);
  started->mainThread = information.hThread;
  started->processId = information.dwProcessId;
  return 0;
}

void ResumeMainThread(const Process& started) { ::ResumeThread(started.mainThread); }

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

ErrorNumber StartElevated(const boost::filesystem::path& file,
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
  // Read before COM is closed again.
  const ErrorNumber error = ::ShellExecuteExW(&request) ? 0 : ::GetLastError();
  if (SUCCEEDED(com)) ::CoUninitialize();
  return error;
}

void ShowMessage(const std::string& text, const std::string& caption,
                 const std::string& detailsUtf8, Focus focus) {
  const UINT foreground = focus == Focus::TakeForeground ? MB_SETFOREGROUND | MB_TOPMOST : 0;
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

ErrorNumber RoamingAppDataFolder(boost::filesystem::path* found) {
  wchar_t folder[MAX_PATH] = {};
  const HRESULT result =
      ::SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder);
  // Without it the settings would land in whatever the current folder is.
  if (FAILED(result)) return ErrorNumberOf(static_cast<ErrorNumber>(result));
  if (folder[0] == L'\0') return ERROR_PATH_NOT_FOUND;
  *found = folder;
  return 0;
}

ErrorNumber AcquireSessionLock(const std::string& name, unsigned timeoutMilliseconds,
                               SessionLock* held) {
  // "Local\\" keeps the lock within the terminal session; the name is ASCII.
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

// Some systems fail a call they do not implement without setting an error
// number; that must not read as success.
ErrorNumber ErrorUnless(BOOL succeeded) {
  if (succeeded) return 0;
  const DWORD error = ::GetLastError();
  return error != 0 ? error : ERROR_CALL_NOT_IMPLEMENTED;
}

// The path as the wide file calls take it (see ExtendedLengthForm).
std::wstring Extended(const boost::filesystem::path& path) {
  const std::wstring& given = path.native();
  const std::wstring full = WholePath([&given](wchar_t* buffer, std::size_t size) -> std::size_t {
    return ::GetFullPathNameW(given.c_str(), static_cast<DWORD>(size), buffer, nullptr);
  });
  return ExtendedLengthForm(given, full);
}

// What file systems that cannot rename an open file answer.
bool IsUnsupported(ErrorNumber error) {
  return error == ERROR_INVALID_FUNCTION || error == ERROR_NOT_SUPPORTED ||
         error == ERROR_INVALID_PARAMETER || error == ERROR_CALL_NOT_IMPLEMENTED;
}

}  // namespace

ErrorNumber CreateFolders(const boost::filesystem::path& folder) {
  const auto isFolder = [&folder] {
    const DWORD attributes = ::GetFileAttributesW(Extended(folder).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
  };
  if (isFolder()) return 0;
  const boost::filesystem::path parent = folder.parent_path();
  const bool hasParent = folder.has_relative_path() && !parent.empty() && parent != folder;
  if (const ErrorNumber error = hasParent ? CreateFolders(parent) : 0) return error;
  if (::CreateDirectoryW(Extended(folder).c_str(), nullptr)) return 0;
  const DWORD error = ::GetLastError();
  return isFolder() ? 0 : error;  // Another launcher may have made it meanwhile.
}

ErrorNumber ReadWholeFile(const boost::filesystem::path& file, std::string* bytes) {
  const FileHandle in(::CreateFileW(Extended(file).c_str(), GENERIC_READ, kShareAll, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
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

ErrorNumber GetAttributes(const boost::filesystem::path& file, std::uint32_t* attributes) {
  const DWORD found = ::GetFileAttributesW(Extended(file).c_str());
  if (found == INVALID_FILE_ATTRIBUTES) return ::GetLastError();
  *attributes = found;
  return 0;
}

ErrorNumber RealLocation(const boost::filesystem::path& file, boost::filesystem::path* real) {
  const FileHandle opened(::CreateFileW(Extended(file).c_str(), 0, kShareAll, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!opened.IsOpen()) return ::GetLastError();
  std::wstring found;
  const ErrorNumber error = NameInFirstForm([&](DWORD form) {
    DWORD unnamed = 0;
    found = WholePath([&](wchar_t* buffer, std::size_t size) -> std::size_t {
      const DWORD length =
          ::GetFinalPathNameByHandleW(opened.handle, buffer, static_cast<DWORD>(size), form);
      if (length == 0) unnamed = ::GetLastError();
      return length;
    });
    return unnamed;
  });
  if (error == 0) *real = WithoutExtendedPrefix(found);
  return error;
}

ErrorNumber CreateNewFile(const boost::filesystem::path& file, OpenFile* opened) {
  const HANDLE handle = ::CreateFileW(Extended(file).c_str(), GENERIC_WRITE | DELETE,
                                      FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return ::GetLastError();
  *opened = handle;
  return 0;
}

ErrorNumber WriteToFile(OpenFile file, std::string_view bytes) {
  return WriteInChunks(bytes, [file](std::string_view chunk, std::size_t* written) {
    DWORD done = 0;
    const ErrorNumber error = ErrorUnless(
        ::WriteFile(file, chunk.data(), static_cast<DWORD>(chunk.size()), &done, nullptr));
    *written = done;
    return error;
  });
}

ErrorNumber SetOpenFileAttributes(OpenFile file, std::uint32_t attributes) {
  FILE_BASIC_INFO basic = {};  // Times of 0 stay as they are.
  basic.FileAttributes = attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
  return ErrorUnless(::SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic));
}

ErrorNumber FlushToDisk(OpenFile file) { return ErrorUnless(::FlushFileBuffers(file)); }

ErrorNumber RenameOpenFileOver(OpenFile file, const boost::filesystem::path& to) {
  const std::wstring target = Extended(to);
  // The name follows the structure, with its terminating zero, which some
  // systems read it up to.
  std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + target.size() * sizeof(wchar_t), 0);
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  rename->ReplaceIfExists = TRUE;
  rename->FileNameLength = static_cast<DWORD>(target.size() * sizeof(wchar_t));
  std::copy(target.begin(), target.end(), rename->FileName);
  ::SetLastError(ERROR_SUCCESS);  // See ErrorUnless.
  const ErrorNumber error = ErrorUnless(::SetFileInformationByHandle(
      file, FileRenameInfo, rename, static_cast<DWORD>(buffer.size())));
  return IsUnsupported(error) ? kErrorNotSupported : error;
}

void CloseFile(OpenFile file) { ::CloseHandle(file); }

ErrorNumber RenameFileOver(const boost::filesystem::path& from, const boost::filesystem::path& to) {
  return ErrorUnless(::MoveFileExW(Extended(from).c_str(), Extended(to).c_str(),
                                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
}

ErrorNumber RemoveFile(const boost::filesystem::path& file) {
  return ErrorUnless(::DeleteFileW(Extended(file).c_str()));
}

ErrorNumber ListFolder(const boost::filesystem::path& folder,
                       std::vector<boost::filesystem::path>* names) {
  WIN32_FIND_DATAW found = {};
  const HANDLE search = ::FindFirstFileW(Extended(folder / L"*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return ::GetLastError();
  names->clear();
  do {
    const std::wstring name = found.cFileName;
    if (name != L"." && name != L"..") names->push_back(name);
  } while (::FindNextFileW(search, &found));
  const DWORD error = ::GetLastError();
  ::FindClose(search);
  return error == ERROR_NO_MORE_FILES ? 0 : error;
}

ErrorNumber ProgramsHoldingFile(const boost::filesystem::path& file,
                                std::vector<FileHolder>* holders) {
  // LoadLibraryW of a full path is LoadLibraryExW without flags: it and the
  // shell's system folder were imported already, and nothing of the DLL is.
  wchar_t dir[MAX_PATH] = {};
  const HRESULT got = ::SHGetFolderPathW(nullptr, CSIDL_SYSTEM, nullptr, SHGFP_TYPE_CURRENT, dir);
  const HMODULE library =
      FAILED(got) ? nullptr : ::LoadLibraryW((std::wstring(dir) + L"\\rstrtmgr.dll").c_str());
  if (library == nullptr) return 0;
  const auto start = Entry<decltype(&::RmStartSession)>(library, "RmStartSession");
  const auto add = Entry<decltype(&::RmRegisterResources)>(library, "RmRegisterResources");
  const auto list = Entry<decltype(&::RmGetList)>(library, "RmGetList");
  const auto end = Entry<decltype(&::RmEndSession)>(library, "RmEndSession");
  boost::filesystem::path real;
  if (RealLocation(file, &real) != 0) real = file;
  DWORD session = 0;
  WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
  DWORD error = ERROR_SUCCESS;
  std::vector<RM_PROCESS_INFO> found;
  const auto listFound = [&](RM_PROCESS_INFO* buffer, UINT* needed, UINT* count) {
    DWORD reasons = 0;
    return list(session, needed, count, buffer, &reasons);
  };
  if (start && add && list && end && (error = start(&session, 0, key)) == ERROR_SUCCESS) {
    LPCWSTR files[] = {real.c_str()};
    error = add(session, 1, files, 0, nullptr, 0, nullptr);
    if (error == ERROR_SUCCESS) error = ListWhileMoreData(&found, listFound);
    end(session);
  }
  ::FreeLibrary(library);
  if (error == ERROR_SUCCESS) holders->clear();
  for (const RM_PROCESS_INFO& process : found) {
    holders->push_back({process.Process.dwProcessId, Narrowed(CP_UTF8, 0, process.strAppName)});
  }
  return error;
}

}  // namespace platform
