// Windows' own rules that the Win32 layer follows, kept free of <windows.h>
// so that the host tests check them and the recording stand-in records what
// the Win32 calls are given.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include <boost/filesystem/path.hpp>

namespace platform {

// The command line after the program's name and the blanks that follow it.
// The name ends as Windows ends it: a quoted name at the next quote, an
// unquoted one at the first space or tab, whatever characters it holds.
inline std::wstring_view ArgumentsAfterProgramName(std::wstring_view commandLine) {
  constexpr std::wstring_view kBlanks = L" \t";
  std::size_t nameEnd = 0;
  if (!commandLine.empty() && commandLine.front() == L'"') {
    nameEnd = commandLine.find(L'"', 1);
    nameEnd = nameEnd == std::wstring_view::npos ? commandLine.size() : nameEnd + 1;
  } else {
    nameEnd = std::min(commandLine.find_first_of(kBlanks), commandLine.size());
  }
  const std::size_t arguments = commandLine.find_first_not_of(kBlanks, nameEnd);
  return arguments == std::wstring_view::npos ? std::wstring_view() : commandLine.substr(arguments);
}

// The whole path from a call that fills a buffer: `fill(buffer, size)`
// returns the length written, or, when the path did not fit, `size` (as
// GetModuleFileNameW does) or the size it needs (as GetFullPathNameW does).
// The buffer grows until the path fits.
template <typename Fill>
std::wstring WholePath(Fill fill) {
  std::wstring buffer(260, L'\0');  // MAX_PATH, enough for nearly every path.
  for (;;) {
    const std::size_t length = fill(buffer.data(), buffer.size());
    if (length < buffer.size()) {
      buffer.resize(length);
      return buffer;
    }
    buffer.resize(std::max(buffer.size() * 2, length));
  }
}

inline constexpr std::uint32_t kErrorWriteFault = 29;

// Writes the bytes a megabyte at most a call, as `write(chunk, &written)`
// (which answers 0 or an error number) may write less than it was given. A
// call that reports success having written nothing fails the write: it would
// never end otherwise.
template <typename Write>
std::uint32_t WriteInChunks(std::string_view bytes, Write write) {
  while (!bytes.empty()) {
    std::size_t written = 0;
    const std::uint32_t error = write(bytes.substr(0, std::size_t{1} << 20), &written);
    if (error != 0) return error;
    if (written == 0) return kErrorWriteFault;
    bytes.remove_prefix(std::min(written, bytes.size()));
  }
  return 0;
}

inline constexpr std::uint32_t kErrorMoreData = 234;

// What `list(buffer, &needed, &count)` fills into `found`, asked again at the
// size it needs while it answers "more data", five times at most.
template <typename Item, typename List>
std::uint32_t ListWhileMoreData(std::vector<Item>* found, List list) {
  unsigned needed = 0;
  unsigned count = 0;
  std::uint32_t error = kErrorMoreData;
  for (int asked = 0; asked < 5 && error == kErrorMoreData; ++asked) {
    found->resize(needed);
    count = needed;
    error = list(found->data(), &needed, &count);
  }
  found->resize(error == 0 ? count : 0);
  return error;
}

// GetFinalPathNameByHandleW's forms, in the order asked: by drive letter (none for a volume
// mounted in a folder), by the volume's GUID, as opened (a share may not normalise a folder).
inline constexpr std::uint32_t kFinalNameForms[] = {0x0, 0x1, 0x8};

// 0 once `name(form)` answers 0 for a form, else the first form's error.
template <typename Name>
std::uint32_t NameInFirstForm(Name name) {
  const std::uint32_t error = name(kFinalNameForms[0]);
  const auto names = [&](std::uint32_t form) { return error != 0 && name(form) == 0; };
  return std::any_of(kFinalNameForms + 1, std::end(kFinalNameForms), names) ? 0 : error;
}

// The Win32 error number in a failed HRESULT, or the whole HRESULT where it
// has none (E_FAIL): FormatMessageW describes either.
inline std::uint32_t ErrorNumberOf(std::uint32_t result) {
  return (result >> 16 & 0x1FFF) == 7 ? result & 0xFFFF : result;  // FACILITY_WIN32
}

// Whether Windows reads `path` as a device path rather than a file's:
// "\\.\", "\\?\" or the native "\??\".
inline bool IsDevicePath(std::wstring_view path) {
  const std::wstring_view prefix = path.substr(0, 4);
  return prefix == LR"(\\.\)" || prefix == LR"(\\?\)" || prefix == LR"(\??\)";
}

// From this length of a full path on, CreateDirectoryW refuses a folder
// (MAX_PATH less room for an 8.3 name). Files would go to 260; one limit
// serves both.
inline constexpr std::size_t kLongPathFrom = 248;

// The path as the wide file calls take it. `full` is what GetFullPathNameW
// makes of `given` (every "." and ".." resolved); its length is the one
// Windows counts, so a short relative name under a deep current folder is
// long. A long path goes as "\\?\" and `full`, which Windows passes on
// unparsed, so no "/" may stay in it. A device path, one already in that
// form, or an empty `full` (the call failed) leaves `given` as it is.
inline std::wstring ExtendedLengthForm(std::wstring_view given, std::wstring_view full) {
  if (IsDevicePath(given) || full.size() < kLongPathFrom) return std::wstring(given);
  std::wstring unparsed(full);
  std::replace(unparsed.begin(), unparsed.end(), L'/', L'\\');
  if (unparsed.rfind(LR"(\\)", 0) == 0) return LR"(\\?\UNC\)" + unparsed.substr(2);
  return LR"(\\?\)" + unparsed;
}

// The path as the user knows it: "\\?\UNC\server\..." as "\\server\...",
// "\\?\C:\..." as "C:\...". Other "\\?\" paths (a volume's GUID name) have
// no such form and stay as they are.
inline std::wstring WithoutExtendedPrefix(std::wstring_view path) {
  constexpr std::wstring_view kUnc = LR"(\\?\UNC\)";
  if (path.substr(0, kUnc.size()) == kUnc) return LR"(\\)" + std::wstring(path.substr(kUnc.size()));
  if (path.size() >= 7 && path.substr(0, 4) == LR"(\\?\)" && path.substr(5, 2) == LR"(:\)") {
    return std::wstring(path.substr(4));
  }
  return std::wstring(path);
}

// Win32's values for the elevated restart (platform_win32.cpp checks them
// against <windows.h>).
inline constexpr std::uint32_t kComApartmentThreaded = 0x2;
inline constexpr std::uint32_t kComDisableOle1Dde = 0x4;
inline constexpr std::uint32_t kShellExecuteNoAsync = 0x100;
inline constexpr int kShowNormally = 5;

// What the shell is asked for to restart the launcher elevated.
struct ElevationRequest {
  std::uint32_t comInitialisation;
  std::uint32_t mask;
  std::wstring verb;
  boost::filesystem::path file;
  std::wstring parameters;
  boost::filesystem::path directory;  // Empty: the shell's choice.
  int show;
};

// The shell may hand "runas" to extensions that are COM objects wanting an
// apartment-threaded caller, and without NOASYNC it may still be at work
// when the launcher exits. The elevated copy never repeats the arguments:
// "-ResetConfig" would ask its question a second time.
inline ElevationRequest ElevationRequestFor(const boost::filesystem::path& file,
                                            const boost::filesystem::path& workingDirectory) {
  return {kComApartmentThreaded | kComDisableOle1Dde,
          kShellExecuteNoAsync,
          L"runas",
          file,
          L"",
          workingDirectory,
          kShowNormally};
}

}  // namespace platform
