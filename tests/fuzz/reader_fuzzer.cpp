// Feeds arbitrary bytes to the settings reader, writes back what it
// recognised and reads that again. A launch rewrites the user's file from
// what the reader kept, so the writer's output must reload to exactly the same
// sections, keys and values in the same order; anything else would silently
// change, drop or move a setting on every start. A mismatch traps, which the fuzzer reports as a
// crash together with the input that caused it.
//
// Then the same bytes, cut in two at the first "\x1e\x1e", are a settings
// file and its backup for a launch's save, on the host's stand-in platform.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "settings/settings_format.h"
#include "settings/settings_store.h"
#include "tests/recording_platform.h"
#include "tests/test_support.h"

namespace {

void Require(bool holds) {
  if (!holds) __builtin_trap();
}

// A save writes no zero byte, never makes a damaged file (empty, or holding
// a zero byte) the backup, and changes neither file when it refuses them.
void Save(std::string_view bytes) {
  namespace fs = boost::filesystem;
  static const testing_support::TemporaryFolder appData;
  const fs::path file = testing_support::SettingsFile(appData.path(), "settings");
  const fs::path backup = testing_support::WithSuffix(file, ".bak");
  const std::string before(bytes.substr(0, bytes.find("\x1e\x1e")));
  const std::string backupBefore(bytes.substr(std::min(bytes.size(), before.size() + 2)));
  fs::create_directories(file.parent_path());
  testing_support::WriteFile(file, before);
  testing_support::WriteFile(backup, backupBefore);

  recording::Reset(appData.path());
  bool refused = false;
  try {
    SettingsStore("settings").SetValue("Loading", "ForceVRMode", "1");
  } catch (const SettingsStore::Failure&) {
    refused = true;
  }
  const std::string after = testing_support::ReadFile(file);
  const bool damaged = before.empty() || before.find('\0') != std::string::npos;
  Require(refused ? after == before : after.find('\0') == std::string::npos);
  Require(testing_support::ReadFile(backup) == (damaged || refused ? backupBefore : before));
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

  Save(bytes);
  return 0;
}
