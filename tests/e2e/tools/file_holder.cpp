// Holds a file open the way a running simulator might, so that the launcher
// meets a file it may read and write but not delete or replace.
//
//   file_holder FILE READY STOP TIMEOUT_MS [SHARING [LET_GO_MS]]
//
// Opens FILE for reading and writing with SHARING ("rw", the default: read
// and write sharing, no delete sharing; "r"; "w"; "none"), then creates READY
// holding "ok", or "error=<Win32 error>" and exits 1 when the open failed.
// Keeps the file open until the file STOP appears or TIMEOUT_MS pass. Given
// LET_GO_MS, it lets go that long after a save's new file ("FILE.*.tmp")
// appeared instead, and writes to STOP's name + ".report" whether a new file
// was still there then ("saving").
#include <string>

#include <windows.h>

#include "report_writer.h"

namespace {

bool Exists(const wchar_t* file) { return ::GetFileAttributesW(file) != INVALID_FILE_ATTRIBUTES; }

bool NewFileBeside(const std::wstring& file) {
  WIN32_FIND_DATAW found = {};
  const HANDLE search = ::FindFirstFileW((file + L".*.tmp").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  ::FindClose(search);
  return true;
}

// Written beside the marker and renamed, so that it never appears empty.
void WriteMarker(const wchar_t* file, const std::string& text) {
  const std::wstring partial = std::wstring(file) + L".partial";
  const HANDLE out = ::CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  ::WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  ::CloseHandle(out);
  ::MoveFileExW(partial.c_str(), file, MOVEFILE_REPLACE_EXISTING);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 5) return 2;
  const wchar_t* file = argv[1];
  const wchar_t* ready = argv[2];
  const wchar_t* stop = argv[3];
  const DWORD timeout = static_cast<DWORD>(std::wcstoul(argv[4], nullptr, 10));
  const std::wstring sharing = argc > 5 ? argv[5] : L"rw";
  DWORD shareMode = FILE_SHARE_READ | FILE_SHARE_WRITE;
  if (sharing == L"r") shareMode = FILE_SHARE_READ;
  if (sharing == L"w") shareMode = FILE_SHARE_WRITE;
  if (sharing == L"none") shareMode = 0;
  const bool lettingGo = argc > 6;

  const HANDLE held = ::CreateFileW(file, GENERIC_READ | GENERIC_WRITE, shareMode, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (held == INVALID_HANDLE_VALUE) {
    WriteMarker(ready, "error=" + std::to_string(::GetLastError()));
    return 1;
  }
  WriteMarker(ready, "ok");
  const ULONGLONG deadline = ::GetTickCount64() + timeout;
  while (!Exists(stop) && !(lettingGo && NewFileBeside(file)) && ::GetTickCount64() < deadline) {
    ::Sleep(lettingGo ? 1 : 20);
  }
  if (!lettingGo) {
    ::CloseHandle(held);
    return 0;
  }
  ::Sleep(static_cast<DWORD>(std::wcstoul(argv[6], nullptr, 10)));
  e2e::Report report;
  report.Add("saving", NewFileBeside(file) ? "1" : "0");
  ::CloseHandle(held);
  return report.SaveAs(std::wstring(stop) + L".report") ? 0 : 1;
}
