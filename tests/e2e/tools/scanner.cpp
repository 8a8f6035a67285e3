// Stands in for a virus scanner or an indexer: opens every new ".tmp" file
// that appears in a folder the moment it sees it, without delete sharing, and
// keeps it open for a while, so that nothing can rename or delete it then.
//
//   scanner FOLDER READY STOP HOLD_MS
//
// Creates the report READY once it watches, then scans until the file STOP
// appears or a minute passes, and writes to STOP's name + ".report" how many
// files it held ("held").
#include <set>
#include <string>

#include <windows.h>

#include "report_writer.h"

namespace {

bool Exists(const std::wstring& file) {
  return ::GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 5) return 2;
  const std::wstring folder = argv[1];
  const std::wstring stop = argv[3];
  const DWORD hold = static_cast<DWORD>(std::wcstoul(argv[4], nullptr, 10));
  e2e::Report ready;
  ready.Add("watching", "1");
  if (!ready.SaveAs(argv[2])) return 1;

  std::set<std::wstring> seen;
  unsigned held = 0;
  const ULONGLONG deadline = ::GetTickCount64() + 60'000;
  while (!Exists(stop) && ::GetTickCount64() < deadline) {
    WIN32_FIND_DATAW found = {};
    const HANDLE search = ::FindFirstFileW((folder + L"\\*.tmp").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) continue;
    do {
      const std::wstring file = folder + L"\\" + found.cFileName;
      if (seen.count(file) != 0) continue;
      // Refused while its writer still has it open; tried again on the next
      // round, as a scanner looks once the writer closes it.
      const HANDLE opened =
          ::CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (opened == INVALID_HANDLE_VALUE) continue;
      seen.insert(file);
      ::Sleep(hold);
      ::CloseHandle(opened);
      ++held;
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
  }
  e2e::Report report;
  report.Add("held", std::to_string(held));
  return report.SaveAs(stop + L".report") ? 0 : 1;
}
