// Installed as "X-Plane.exe" in a test's folder: records what the simulator
// would see at its first instruction, then exits.
//
// The report goes to the file named by CIRROVANE_E2E_REPORT, which the driver
// sets for the launcher and which reaches us through the inherited
// environment. It holds the command line and its arguments, SteamAppId, the
// current directory, the roaming application-data folder and the exact bytes
// of the settings file there (or the error that kept us from reading it), and
// how long the process was kept suspended.
// The driver also runs this program on its own to learn where that folder is.
#include <string>
#include <vector>

#include <windows.h>

#include <shellapi.h>
#include <shlobj.h>

#include "report_writer.h"

namespace {

// The variable's value, or false when it is not set.
bool ReadEnvironment(const wchar_t* name, std::wstring* value) {
  const DWORD size = ::GetEnvironmentVariableW(name, nullptr, 0);
  if (size == 0) return false;
  std::vector<wchar_t> buffer(size);
  const DWORD length = ::GetEnvironmentVariableW(name, buffer.data(), size);
  value->assign(buffer.data(), length);
  return true;
}

std::wstring CurrentDirectory() {
  const DWORD size = ::GetCurrentDirectoryW(0, nullptr);
  std::vector<wchar_t> buffer(size + 1);
  const DWORD length = ::GetCurrentDirectoryW(size + 1, buffer.data());
  return std::wstring(buffer.data(), length);
}

// The whole file, or its Win32 error number in *error.
bool ReadWholeFile(const std::wstring& file, std::string* bytes, DWORD* error) {
  // Shares everything, so that reading never disturbs what the launcher left.
  const HANDLE in = ::CreateFileW(file.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (in == INVALID_HANDLE_VALUE) {
    *error = ::GetLastError();
    return false;
  }
  char chunk[64 * 1024];
  DWORD got = 0;
  while (::ReadFile(in, chunk, sizeof chunk, &got, nullptr) && got > 0) bytes->append(chunk, got);
  ::CloseHandle(in);
  return true;
}

// How long this process existed before its first instruction ran, that is how
// long the launcher kept it suspended, in units of 100 ns.
ULONGLONG TimeSuspended() {
  FILETIME now, created, exited, kernel, user;
  ::GetSystemTimeAsFileTime(&now);
  ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
  const auto ticks = [](const FILETIME& time) {
    return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  };
  return ticks(now) - ticks(created);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, wchar_t*, int) {
  const ULONGLONG suspended = TimeSuspended();
  std::wstring reportFile;
  if (!ReadEnvironment(L"CIRROVANE_E2E_REPORT", &reportFile)) return 3;

  e2e::Report report;
  report.Add("suspended_100ns", std::to_string(suspended));
  const wchar_t* commandLine = ::GetCommandLineW();
  report.AddText("command_line", commandLine);
  int count = 0;
  wchar_t** arguments = ::CommandLineToArgvW(commandLine, &count);
  report.Add("argument_count", std::to_string(count));
  for (int i = 0; i < count && arguments != nullptr; ++i) {
    report.AddText("argument." + std::to_string(i), arguments[i]);
  }

  std::wstring steamAppId;
  if (ReadEnvironment(L"SteamAppId", &steamAppId)) report.AddText("steam_app_id", steamAppId);
  report.AddText("current_directory", CurrentDirectory());

  wchar_t appData[MAX_PATH] = {};
  const HRESULT found =
      ::SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, appData);
  report.Add("appdata_result", std::to_string(static_cast<unsigned long>(found)));
  report.AddText("appdata", appData);

  const std::wstring settingsFile =
      std::wstring(appData) + L"\\Cirrovane\\settings_pro_Cirrovane XR_settings.ini";
  report.AddText("settings_path", settingsFile);
  std::string settings;
  DWORD error = 0;
  if (ReadWholeFile(settingsFile, &settings, &error)) {
    report.Add("settings", settings);
  } else {
    report.Add("settings_error", std::to_string(error));
  }

  return report.SaveAs(reportFile) ? 0 : 4;
}
