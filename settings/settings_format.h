// The settings file's text format: a reader and a writer over whole files,
// and the model between them.
//
//   [Section]
//   Key = Value
//
// The writer's output is the reference form: every line ends in CR LF, key
// lines put " = " between key and value, and each section ends with an empty
// line. The reader also accepts other spacing and LF-only line ends. It skips
// comments ("#"), lines shorter than three characters, lines holding a zero
// byte, key lines before the first section header and anything else it does
// not recognise, so a rewrite keeps exactly what was recognised. There is no
// quoting or escaping.
//
// The file is its owner's document: the model keeps sections and keys in the
// order the file holds them, so a rewrite changes only what was changed.
#pragma once

#include <cstddef>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include <boost/multi_index/hashed_index.hpp>
#include <boost/multi_index/member.hpp>
#include <boost/multi_index/sequenced_index.hpp>
#include <boost/multi_index_container.hpp>

// Named entries in the order they were first added, each found by its name
// in constant time on average.
template <typename Held>
class EntriesInOrder {
  using Entry = std::pair<std::string, Held>;
  using Entries = boost::multi_index_container<
      Entry, boost::multi_index::indexed_by<
                 boost::multi_index::sequenced<>,
                 boost::multi_index::hashed_unique<
                     boost::multi_index::member<Entry, std::string, &Entry::first>,
                     std::hash<std::string_view>, std::equal_to<std::string_view>>>>;

 public:
  using const_iterator = typename Entries::const_iterator;

  std::size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  const_iterator begin() const { return entries_.begin(); }
  const_iterator end() const { return entries_.end(); }
  // Equal when they hold the same entries in the same order.
  bool operator==(const EntriesInOrder& other) const { return entries_ == other.entries_; }
  bool operator!=(const EntriesInOrder& other) const { return !(*this == other); }

 protected:
  // What the entry of that name holds, added empty at the end when missing.
  // Only the name is indexed, so what it holds may change in place.
  Held& FindOrAdd(std::string_view name) {
    return const_cast<Held&>(entries_.emplace_back(std::string(name), Held()).first->second);
  }
  const Held* FindHeld(std::string_view name) const {
    const auto found = entries_.template get<1>().find(name);
    return found != entries_.template get<1>().end() ? &found->second : nullptr;
  }

 private:
  Entries entries_;
};

// One section's keys and values, in the order they were first set.
class KeyMap : public EntriesInOrder<std::string> {
 public:
  // Overwrites the key's value where the key stands, or adds the key at the
  // end.
  void Set(std::string_view key, std::string_view value) { FindOrAdd(key).assign(value); }
  std::optional<std::string_view> Find(std::string_view key) const {
    const std::string* const value = FindHeld(key);
    return value ? std::optional<std::string_view>(*value) : std::nullopt;
  }
};

// The sections of a file, in the order they first appeared.
class SectionMap : public EntriesInOrder<KeyMap> {
 public:
  using Keys = std::initializer_list<std::pair<std::string_view, std::string_view>>;

  SectionMap() = default;
  // Sections named twice are one, as in a file.
  SectionMap(std::initializer_list<std::pair<std::string_view, Keys>> sections);

  // The section of that name, added with no keys at the end when missing.
  KeyMap& operator[](std::string_view name) { return FindOrAdd(name); }
  const KeyMap* Find(std::string_view name) const { return FindHeld(name); }
};

// Adds the sections and keys recognised in the text to the map, in the order
// the text first names them: a later key line of the same section overwrites
// the value where the key first stood, and a repeated header continues its
// section. A UTF-8 byte-order mark at the very start is skipped, CR before LF
// is dropped, and a byte 0x1A ends the text, as in a file read in the Windows
// runtime's text mode. The map keeps copies, not views into the text.
void ParseSections(std::string_view text, SectionMap& sections);

// The map in the writer's reference form, in the map's order.
std::string FormatSections(const SectionMap& sections);
