#include "settings/settings_format.h"

#include <bitset>

#include <boost/algorithm/string/classification.hpp>
#include <boost/algorithm/string/trim.hpp>
#include <boost/range/iterator_range.hpp>

namespace {

constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";
constexpr char kEndOfFile = '\x1A';
constexpr std::string_view kLineEnd = "\r\n";

// Boost's is_space in the launcher's locale, the classic one (in glibc and the
// Windows runtime alike, the six ASCII spaces), asked once per byte: asked per
// character, it would look the locale's facet up every time.
const std::bitset<256> kSpaces = [] {
  std::bitset<256> spaces;
  for (int c = 0; c < 256; ++c) spaces[c] = boost::algorithm::is_space()(static_cast<char>(c));
  return spaces;
}();

// The text without its leading and trailing spaces, as a view into it.
std::string_view Trim(std::string_view text) {
  const auto trimmed = boost::algorithm::trim_copy_if(
      boost::make_iterator_range(text.data(), text.data() + text.size()),
      [](char c) { return kSpaces[static_cast<unsigned char>(c)]; });
  return {trimmed.begin(), trimmed.size()};
}

// The text as the Windows runtime's text mode reads a file: up to the first
// 0x1A, without a leading UTF-8 byte-order mark (Notepad may save one).
std::string_view TextModeContent(std::string_view text) {
  text = text.substr(0, text.find(kEndOfFile));
  if (text.substr(0, kUtf8ByteOrderMark.size()) == kUtf8ByteOrderMark) {
    text.remove_prefix(kUtf8ByteOrderMark.size());
  }
  return text;
}

// Takes the next line, without its line feed, off the front of the text.
std::string_view TakeLine(std::string_view& text) {
  const std::size_t end = text.find('\n');
  const std::string_view line = text.substr(0, end);
  text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  return line;
}

}  // namespace

SectionMap::SectionMap(std::initializer_list<std::pair<std::string_view, Keys>> sections) {
  for (const auto& [name, keys] : sections) {
    KeyMap& section = (*this)[name];
    for (const auto& [key, value] : keys) section.Set(key, value);
  }
}

void ParseSections(std::string_view text, SectionMap& sections) {
  text = TextModeContent(text);
  KeyMap* current = nullptr;  // No section header seen yet.
  while (!text.empty()) {
    const std::string_view taken = TakeLine(text);
    // No writer of the file puts a zero byte in it: a line holding one was
    // reached by the zeros a writer cut short left.
    if (taken.find('\0') != std::string_view::npos) continue;
    // Trimming also drops the CR of a CR LF line end.
    const std::string_view line = Trim(taken);
    if (line.size() < 3) continue;  // Too short to be a header or a key line.

    // A comment line.
    if (line.front() == '#') continue;

    // A [section] line; one without its closing bracket is ignored.
    if (line.front() == '[') {
      if (line.back() == ']') current = &sections[line.substr(1, line.size() - 2)];
      continue;
    }

    // A key = value line, inside a section; one without "=" or without a
    // key is ignored. Only the first "=" splits, so values may hold more.
    const std::size_t equals = line.find('=');
    if (current == nullptr || equals == std::string_view::npos || equals == 0) continue;
    current->Set(Trim(line.substr(0, equals)), Trim(line.substr(equals + 1)));
  }
}

std::string FormatSections(const SectionMap& sections) {
  std::string text;
  for (const auto& [name, keys] : sections) {
    text.append("[").append(name).append("]").append(kLineEnd);
    for (const auto& [key, value] : keys) {
      text.append(key).append(" = ").append(value).append(kLineEnd);
    }
    text.append(kLineEnd);
  }
  return text;
}
