// Feeds arbitrary bytes to the settings reader, writes back what it
// recognised and reads that again. A launch rewrites the user's file from
// what the reader kept, so the writer's output must reload to exactly the same
// sections, keys and values in the same order; anything else would silently
// change, drop or move a setting on every start. A mismatch traps, which the fuzzer reports as a
// crash together with the input that caused it.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "settings/settings_format.h"

namespace {

void Require(bool holds) {
  if (!holds) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  SectionMap parsed;
  ParseSections(bytes, parsed);

  const std::string formatted = FormatSections(parsed);
  SectionMap reloaded;
  ParseSections(formatted, reloaded);
  Require(reloaded == parsed);
  // And a rewrite of a file in the writer's form changes no byte, order
  // included.
  Require(FormatSections(reloaded) == formatted);
  // Nor does a zero byte, which only a writer cut short leaves, come back.
  Require(formatted.find('\0') == std::string::npos);
  return 0;
}
