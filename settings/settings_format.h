// The settings file's text format: a reader and a writer over whole files,
// and the model between them.
//
//   [Section]
//   Key = Value
//
// The writer's output is the reference form: every line ends in CR LF, key
// lines put " = " between key and value, and each section ends with an empty
// line. The reader also accepts other spacing and LF-only line ends. It skips
// comments ("#"), lines shorter than three characters, key lines before the
// first section header and anything else it does not recognise, so a rewrite
// keeps exactly what was recognised. There is no quoting or escaping.
//
// The file is its owner's document: the model keeps sections and keys in the
// order the file holds them, so a rewrite changes only what was changed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <forward_list>
#include <initializer_list>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Finds the position of a name in an ordered list through the names' hashes
// (open addressing), so that a lookup costs the same in a list of any length.
// The list keeps the names; `nameAt(position)` gives one.
class NameIndex {
 public:
  // The position of `name`; when the list has none, `next`, which the name
  // takes.
  template <typename NameAt>
  std::size_t Insert(std::string_view name, std::size_t next, const NameAt& nameAt);
  template <typename NameAt>
  std::optional<std::size_t> Find(std::string_view name, const NameAt& nameAt) const;

 private:
  // A position in the list, and part of its name's hash to compare before
  // the names. All zero when free, so a new table is zeroed memory.
  struct Slot {
    std::uint32_t hash;
    std::uint32_t positionAfter;  // The position + 1.
  };

  static std::uint32_t Hash(std::string_view name);
  void Grow();

  std::vector<Slot> slots_;
  std::size_t count_ = 0;
};

class SectionMap;

// One section's keys and values, in the order they were first set. Keys and
// values are views: into bytes the map owns, or, for what ParseSections
// read, into the text its SectionMap keeps, so reading a file copies it once
// rather than key by key. So a map is moved, never copied.
class KeyMap {
 public:
  using value_type = std::pair<std::string_view, std::string_view>;
  using const_iterator = std::vector<value_type>::const_iterator;
  using iterator = const_iterator;

  KeyMap() = default;
  KeyMap(std::initializer_list<value_type> entries);
  KeyMap(const KeyMap&) = delete;
  KeyMap& operator=(const KeyMap&) = delete;
  KeyMap(KeyMap&&) noexcept = default;
  KeyMap& operator=(KeyMap&&) noexcept = default;
  ~KeyMap() = default;

  // Overwrites the key's value where the key stands, or adds the key at the
  // end.
  void Set(std::string_view key, std::string_view value);
  std::optional<std::string_view> Find(std::string_view key) const;

  std::size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  const_iterator begin() const { return entries_.begin(); }
  const_iterator end() const { return entries_.end(); }
  // Equal when they hold the same keys and values in the same order.
  bool operator==(const KeyMap& other) const { return entries_ == other.entries_; }
  bool operator!=(const KeyMap& other) const { return !(*this == other); }

 private:
  friend void ParseSections(std::string_view text, SectionMap& sections);

  // Set, for views into bytes that outlive the map.
  void SetView(std::string_view key, std::string_view value);
  std::string_view Own(std::string bytes);

  std::vector<value_type> entries_;
  // Strings never move once listed, so views into them stay valid.
  std::forward_list<std::string> owned_;
  NameIndex index_;
};

// The sections of a file, in the order they first appeared.
class SectionMap {
 public:
  using value_type = std::pair<std::string, KeyMap>;
  using const_iterator = std::vector<value_type>::const_iterator;
  using iterator = const_iterator;

  SectionMap() = default;
  // Sections named twice are one, as in a file.
  SectionMap(
      std::initializer_list<std::pair<std::string_view, std::initializer_list<KeyMap::value_type>>>
          sections);
  SectionMap(const SectionMap&) = delete;
  SectionMap& operator=(const SectionMap&) = delete;
  SectionMap(SectionMap&&) noexcept = default;
  SectionMap& operator=(SectionMap&&) noexcept = default;
  ~SectionMap() = default;

  // The section of that name, added with no keys at the end when missing.
  KeyMap& operator[](std::string_view name);
  const KeyMap* Find(std::string_view name) const;

  std::size_t size() const { return sections_.size(); }
  bool empty() const { return sections_.empty(); }
  const_iterator begin() const { return sections_.begin(); }
  const_iterator end() const { return sections_.end(); }
  // Equal when they hold the same sections, keys and values in the same
  // order.
  bool operator==(const SectionMap& other) const { return sections_ == other.sections_; }
  bool operator!=(const SectionMap& other) const { return !(*this == other); }

 private:
  friend void ParseSections(std::string_view text, SectionMap& sections);

  std::vector<value_type> sections_;
  NameIndex index_;
  // The texts read into the map, which its keys and values view.
  std::forward_list<std::string> texts_;
};

// Adds the sections and keys recognised in the text to the map, in the order
// the text first names them: a later key line of the same section overwrites
// the value where the key first stood, and a repeated header continues its
// section. A UTF-8 byte-order mark at the very start is skipped, CR before LF
// is dropped, and a byte 0x1A ends the text, as in a file read in the Windows
// runtime's text mode.
void ParseSections(std::string_view text, SectionMap& sections);

// The map in the writer's reference form, in the map's order.
std::string FormatSections(const SectionMap& sections);

template <typename NameAt>
std::size_t NameIndex::Insert(std::string_view name, std::size_t next, const NameAt& nameAt) {
  if (2 * (count_ + 1) > slots_.size()) Grow();
  const std::uint32_t hash = Hash(name);
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t at = hash & mask;; at = (at + 1) & mask) {
    Slot& slot = slots_[at];
    if (slot.positionAfter == 0) {
      slot = {hash, static_cast<std::uint32_t>(next + 1)};
      ++count_;
      return next;
    }
    if (slot.hash == hash && nameAt(slot.positionAfter - 1) == name) return slot.positionAfter - 1;
  }
}

template <typename NameAt>
std::optional<std::size_t> NameIndex::Find(std::string_view name, const NameAt& nameAt) const {
  if (slots_.empty()) return std::nullopt;
  const std::uint32_t hash = Hash(name);
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t at = hash & mask;; at = (at + 1) & mask) {
    const Slot& slot = slots_[at];
    if (slot.positionAfter == 0) return std::nullopt;
    if (slot.hash == hash && nameAt(slot.positionAfter - 1) == name) return slot.positionAfter - 1;
  }
}
