// The platform layer over Win32.
#include "platform/platform.h"

#include <string_view>

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

}  // namespace platform
