#include "settings/settings_format.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";
constexpr char kEndOfFile = '\x1A';
constexpr std::string_view kLineEnd = "\r\n";

// True for the classic locale's space class. Spelled out rather than asked of
// the runtime's locale so that every platform agrees; no byte of 0x80 or above
// is a space.
bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The text without its leading and trailing spaces, as a view into it.
inline std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsSpace(text.back())) text.remove_suffix(1);
  return text;
}

// The text up to the first 0x1A, which ends a file read in text mode.
std::string_view UpToEndOfFileMark(std::string_view text) {
  return text.substr(0, text.find(kEndOfFile));
}

// The text without a leading UTF-8 byte-order mark, as Notepad may save one.
std::string_view WithoutByteOrderMark(std::string_view text) {
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

// The length of the map in the writer's form, so the text is built without
// moving it as it grows.
std::size_t FormattedLength(const SectionMap& sections) {
  std::size_t length = 0;
  for (const auto& [name, keys] : sections) {
    length += name.size() + 2 + 2 * kLineEnd.size();
    for (const auto& [key, value] : keys) length += key.size() + 3 + value.size() + kLineEnd.size();
  }
  return length;
}

}  // namespace

std::uint32_t NameIndex::Hash(std::string_view name) {
  // Eight bytes a step, each folded in with a rotation and a multiplication,
  // then the high bits mixed down into the low ones that pick the slot.
  // Settings names are short, so the cost per name matters more than the
  // quality on long or hostile input, which only makes probing longer.
  constexpr std::uint64_t kFactor = 0x517cc1b727220a95;
  std::uint64_t hash = name.size();
  const auto fold = [&hash](std::uint64_t word) {
    hash = (((hash << 5) | (hash >> 59)) ^ word) * kFactor;
  };
  const auto wordAt = [&name](std::size_t at) {
    std::uint64_t word = 0;
    std::memcpy(&word, name.data() + at, 8);
    return word;
  };
  if (name.size() >= 8) {
    for (std::size_t at = 0; at + 8 < name.size(); at += 8) fold(wordAt(at));
    fold(wordAt(name.size() - 8));  // The last eight, overlapping the word before.
  } else {
    std::uint64_t word = 0;
    for (const char c : name) word = (word << 8) | static_cast<unsigned char>(c);
    fold(word);
  }
  return static_cast<std::uint32_t>(hash ^ (hash >> 32));
}

void NameIndex::Grow() {
  // Growing costs more than the memory it saves: few steps, from a table
  // that holds a typical section.
  constexpr std::size_t kFirstSlots = 64;
  constexpr std::size_t kGrowth = 4;
  std::vector<Slot> old(slots_.empty() ? kFirstSlots : kGrowth * slots_.size(), Slot{0, 0});
  old.swap(slots_);
  const std::size_t mask = slots_.size() - 1;
  for (const Slot& slot : old) {
    if (slot.positionAfter == 0) continue;
    std::size_t at = slot.hash & mask;
    while (slots_[at].positionAfter != 0) at = (at + 1) & mask;
    slots_[at] = slot;
  }
}

KeyMap::KeyMap(std::initializer_list<value_type> entries) {
  for (const auto& [key, value] : entries) Set(key, value);
}

void KeyMap::Set(std::string_view key, std::string_view value) {
  const std::string_view bytes = Own(std::string(key).append(value));
  SetView(bytes.substr(0, key.size()), bytes.substr(key.size()));
}

std::optional<std::string_view> KeyMap::Find(std::string_view key) const {
  const std::optional<std::size_t> position =
      index_.Find(key, [this](std::size_t at) { return entries_[at].first; });
  if (!position) return std::nullopt;
  return entries_[*position].second;
}

void KeyMap::SetView(std::string_view key, std::string_view value) {
  const std::size_t position =
      index_.Insert(key, entries_.size(), [this](std::size_t at) { return entries_[at].first; });
  if (position == entries_.size()) {
    entries_.emplace_back(key, value);
  } else {
    entries_[position].second = value;
  }
}

std::string_view KeyMap::Own(std::string bytes) {
  owned_.push_front(std::move(bytes));
  return owned_.front();
}

SectionMap::SectionMap(
    std::initializer_list<std::pair<std::string_view, std::initializer_list<KeyMap::value_type>>>
        sections) {
  for (const auto& [name, keys] : sections) {
    KeyMap& section = (*this)[name];
    for (const auto& [key, value] : keys) section.Set(key, value);
  }
}

KeyMap& SectionMap::operator[](std::string_view name) {
  const std::size_t position = index_.Insert(name, sections_.size(), [this](std::size_t at) {
    return std::string_view(sections_[at].first);
  });
  if (position == sections_.size()) sections_.emplace_back(std::string(name), KeyMap());
  return sections_[position].second;
}

const KeyMap* SectionMap::Find(std::string_view name) const {
  const std::optional<std::size_t> position =
      index_.Find(name, [this](std::size_t at) { return std::string_view(sections_[at].first); });
  return position ? &sections_[*position].second : nullptr;
}

void ParseSections(std::string_view text, SectionMap& sections) {
  text = WithoutByteOrderMark(UpToEndOfFileMark(text));
  sections.texts_.emplace_front(text);
  text = sections.texts_.front();
  KeyMap* current = nullptr;  // No section header seen yet.
  while (!text.empty()) {
    // Trimming also drops the CR of a CR LF line end.
    const std::string_view line = Trim(TakeLine(text));
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
    current->SetView(Trim(line.substr(0, equals)), Trim(line.substr(equals + 1)));
  }
}

std::string FormatSections(const SectionMap& sections) {
  // Written through a cursor into text of the final length: appending piece
  // by piece costs more than the copying itself.
  std::string text(FormattedLength(sections), '\0');
  char* out = text.data();
  const auto put = [&out](std::string_view piece) {
    std::memcpy(out, piece.data(), piece.size());
    out += piece.size();
  };
  for (const auto& [name, keys] : sections) {
    put("[");
    put(name);
    put("]");
    put(kLineEnd);
    for (const auto& [key, value] : keys) {
      put(key);
      put(" = ");
      put(value);
      put(kLineEnd);
    }
    put(kLineEnd);
  }
  return text;
}
