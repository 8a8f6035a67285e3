// The tools' one output format, read back by the suite (conftest.py):
//
//   key=HEX
//
// one pair a line, keys in plain ASCII, every value hex-encoded so that no
// text (line feeds in dialog texts, odd bytes in files) can be ambiguous.
// Text values are the UTF-8 form of the wide strings Windows gave us.
// Files appear all at once: the lines go to "<file>.partial", which is then
// renamed, so the driver never reads half a report.
#pragma once

#include <string>
#include <string_view>

#include <windows.h>

namespace e2e {

// The UTF-8 form of a wide string.
inline std::string Utf8(std::wstring_view text) {
  if (text.empty()) return {};
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
  std::string result(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), size,
                        nullptr, nullptr);
  return result;
}

// Lower-case hex of the bytes.
inline std::string Hex(std::string_view bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string result;
  result.reserve(bytes.size() * 2);
  for (const unsigned char byte : bytes) {
    result += kDigits[byte >> 4];
    result += kDigits[byte & 0x0F];
  }
  return result;
}

class Report {
 public:
  void Add(std::string_view key, std::string_view bytes) {
    lines.append(key).append("=").append(Hex(bytes)).append("\n");
  }
  void AddText(std::string_view key, std::wstring_view text) { Add(key, Utf8(text)); }

  // Writes the lines to the file in one piece; false when that failed.
  bool SaveAs(const std::wstring& file) const {
    const std::wstring partial = file + L".partial";
    const HANDLE out = ::CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const BOOL ok =
        ::WriteFile(out, lines.data(), static_cast<DWORD>(lines.size()), &written, nullptr);
    ::CloseHandle(out);
    if (!ok || written != lines.size()) return false;
    return ::MoveFileExW(partial.c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
  }

 private:
  std::string lines;
};

}  // namespace e2e
