// The settings file's text format: a reader and a writer over whole files.
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
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>

using KeyMap = std::unordered_map<std::string, std::string>;
using SectionMap = std::unordered_map<std::string, KeyMap>;

// Adds the sections and keys recognised in the text to the map; a later key
// overwrites an earlier one of the same section. A UTF-8 byte-order mark at
// the very start is skipped, CR before LF is dropped, and a byte 0x1A ends the
// text, as in a file read in the Windows runtime's text mode.
void ParseSections(std::string_view text, SectionMap& sections);

// The map in the writer's reference form, in the map's iteration order.
std::string FormatSections(const SectionMap& sections);
