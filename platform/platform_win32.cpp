// The platform layer over Win32.
#include "platform/platform.h"

#include <vector>

#include <windows.h>
// After <windows.h>, which they need.
#include <shellapi.h>
#include <shlobj.h>

#include <boost/filesystem/exception.hpp>

namespace platform {

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

boost::filesystem::path OwnExecutablePath() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length =
        ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    // A full buffer means the path was cut: try again with more room.
    if (length < buffer.size())
      return boost::filesystem::path(buffer.data(), buffer.data() + length);
    buffer.resize(buffer.size() * 2);
  }
}

bool StartElevated(const boost::filesystem::path& file,
                   const boost::filesystem::path& workingDirectory) {
  SHELLEXECUTEINFOW request = {};
  request.cbSize = sizeof request;
  request.lpVerb = L"runas";
  request.lpFile = file.c_str();
  request.lpParameters = L"";
  request.lpDirectory = workingDirectory.empty() ? nullptr : workingDirectory.c_str();
  request.nShow = SW_SHOW;
  return ::ShellExecuteExW(&request) != FALSE;
}

void ShowMessage(const std::string& text, const std::string& caption) {
  ::MessageBoxA(nullptr, text.c_str(), caption.c_str(), MB_OK);
}

bool AskYesNo(const std::string& text, const std::string& caption) {
  return ::MessageBoxA(nullptr, text.c_str(), caption.c_str(), MB_YESNO) == IDYES;
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
