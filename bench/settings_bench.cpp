// What one launch costs the settings file, for files of 100, 1,000, 10,000
// and 100,000 keys (real profiles hold tens to hundreds; the larger files show
// how the cost grows), each against the yardstick that does the same work:
//   safe_floor/<keys>     every file call a launch must make, in the store's
//                         order, with no parsing: the folder, the lock, the
//                         read, the real locations and attributes of the file
//                         and the backup, one listing of the folder, the same
//                         bytes in a new file written and flushed, the backup
//                         the same way, and two renames: the least a rewrite
//                         that loses nothing can cost;
//   store/<keys>          what a launch does: construct the store (lock, load
//                         and parse), SetValue("Loading", "ForceVRMode", "1")
//                         (format, safe save with the backup), destroy;
//   parse_format/<keys>   the store's reader and writer alone, in memory: the
//                         text parsed, the value set, the text formatted;
//   property_tree/<keys>  Boost.PropertyTree's read_ini, the same put and
//                         write_ini over the same text in memory, as a
//                         general-purpose INI library would do it;
//   simpleini/<keys>      SimpleIni's LoadData, the same SetValue and Save to
//                         a string over the same text in memory: another
//                         general-purpose library that reads and writes;
//   inih/<keys>           inih's ini_parse_string of the same text into a map
//                         of sections of keys: a reader alone, nothing set and
//                         nothing written, as lean as parsing gets.
// Every benchmark times one run per iteration, just after the same bytes
// were put back on disk (so the text is as cold as a launch finds it, for the
// in-memory ones too); putting them back is not timed. The file benchmarks
// work on the same file in the same folder.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <iterator>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <boost/filesystem/operations.hpp>
#include <boost/property_tree/ini_parser.hpp>
#include <boost/property_tree/ptree.hpp>

#include <SimpleIni.h>
#include <ini.h>

#include "settings/settings_format.h"
#include "settings/settings_store.h"
#include "tests/recording_platform.h"
#include "tests/test_support.h"

namespace {

namespace fs = boost::filesystem;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kKeysPerSection = 100;

// Words that settings names are made of, combined into capitalised run-together
// names of typical length ("WindowPositionX", "TextureQuality").
const char* const kWords[] = {"Window",  "Position", "Texture", "Quality", "Render", "Scale",
                              "Display", "Aircraft", "Last",    "Used",    "Show",   "Volume",
                              "Sound",   "Engine",   "Panel",   "Popout",  "Mode",   "Enabled",
                              "Camera",  "View",     "Offset",  "Width",   "Height", "Field"};

std::string Name(std::mt19937& random, std::size_t index) {
  std::uniform_int_distribution<std::size_t> word(0, std::size(kWords) - 1);
  std::uniform_int_distribution<int> words(2, 3);
  std::string name;
  for (int i = words(random); i > 0; --i) name += kWords[word(random)];
  return name + std::to_string(index);  // Unique within its section.
}

// Numbers, flags, coordinates and the odd path: what settings files hold.
std::string Value(std::mt19937& random) {
  switch (std::uniform_int_distribution<int>(0, 4)(random)) {
    case 0:
      return std::to_string(std::uniform_int_distribution<int>(0, 4096)(random));
    case 1:
      return std::uniform_int_distribution<int>(0, 1)(random) ? "true" : "false";
    case 2:
      return std::to_string(std::uniform_real_distribution<double>(0, 2)(random));
    case 3:
      return std::to_string(std::uniform_int_distribution<int>(0, 1920)(random)) + "," +
             std::to_string(std::uniform_int_distribution<int>(0, 1080)(random));
    default:
      return "C:\\Users\\Pilot\\Documents\\Cirrovane XR\\Profiles\\Profile" +
             std::to_string(std::uniform_int_distribution<int>(1, 9)(random)) + ".json";
  }
}

// A settings file of `keys` keys in the writer's form, with the launch's own
// key among them in the first section, as a profile that has run before.
std::string SettingsText(std::size_t keys) {
  std::mt19937 random(20240611);
  std::string text = "[Loading]\r\nForceVRMode = 0\r\n";
  for (std::size_t key = 1; key < keys; ++key) {
    if (key % kKeysPerSection == 0) {
      text += "\r\n[" + Name(random, key / kKeysPerSection) + "]\r\n";
    }
    text += Name(random, key) + " = " + Value(random) + "\r\n";
  }
  return text + "\r\n";
}

std::size_t KeyCount(const SectionMap& sections) {
  std::size_t keys = 0;
  for (const auto& [name, section] : sections) keys += section.size();
  return keys;
}

// The benchmark's files, under a temporary folder that the recording platform
// answers as the roaming application-data folder.
struct Files {
  fs::path file;
  fs::path backup;
};

// Puts the bytes a launch finds back on disk: the file, and a backup from the
// launch before (so the rotation has a real file to replace), no temporary.
void Restore(const Files& files, const std::string& text) {
  testing_support::WriteFile(files.file, text);
  testing_support::WriteFile(files.backup, text);
  recording::Reset(files.file.parent_path().parent_path());
}

// Runs `work` once per iteration from freshly restored files and times only
// `work`. `check`, given what `work` returned the first time, tells whether it
// really did its job on this content, so a broken set-up cannot pass for a
// fast one.
template <typename Work, typename Check>
void Measure(benchmark::State& state, const Files& files, const std::string& text, const Work& work,
             const Check& check) {
  Restore(files, text);
  if (!check(work())) {
    state.SkipWithError("the measured operation did not do its work");
    return;
  }
  for (auto _ : state) {
    Restore(files, text);
    const Clock::time_point start = Clock::now();
    benchmark::DoNotOptimize(work());
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

// The bytes in a new file beside `target`, written and flushed, still open.
platform::OpenFile NewFileBeside(const fs::path& target, const std::string& bytes) {
  platform::OpenFile opened = nullptr;
  platform::CreateNewFile(testing_support::WithSuffix(target, ".tmp"), &opened);
  platform::WriteToFile(opened, bytes);
  platform::FlushToDisk(opened);
  return opened;
}

void PutInPlace(platform::OpenFile opened, const fs::path& target) {
  platform::RenameOpenFileOver(opened, target);
  platform::CloseFile(opened);
}

void SafeFloor(benchmark::State& state, const Files& files, const std::string& text) {
  Measure(
      state, files, text,
      [&] {
        platform::CreateFolders(files.file.parent_path());
        platform::SessionLock lock = nullptr;
        platform::AcquireSessionLock("bench", 0, &lock);
        std::string bytes;
        platform::ReadWholeFile(files.file, &bytes);
        fs::path real;
        platform::RealLocation(files.file, &real);
        std::uint32_t attributes = 0;
        platform::GetAttributes(real, &attributes);
        fs::path backup;
        platform::RealLocation(files.backup, &backup);
        platform::GetAttributes(backup, &attributes);
        std::vector<fs::path> names;
        platform::ListFolder(real.parent_path(), &names);
        const platform::OpenFile file = NewFileBeside(real, bytes);
        PutInPlace(NewFileBeside(backup, bytes), backup);
        PutInPlace(file, real);
        platform::ReleaseSessionLock(lock);
        return names.size();
      },
      [&](std::size_t names) {
        return names == 2 && testing_support::ReadFile(files.file) == text &&
               testing_support::ReadFile(files.backup) == text;
      });
}

void Store(benchmark::State& state, const Files& files, const std::string& text, std::size_t keys) {
  Measure(
      state, files, text,
      [] {
        SettingsStore store("settings");
        store.SetValue("Loading", "ForceVRMode", "1");
        return 0;
      },
      [&](int) {
        SectionMap written;
        ParseSections(testing_support::ReadFile(files.file), written);
        return KeyCount(written) == keys && written["Loading"].Find("ForceVRMode") == "1" &&
               testing_support::ReadFile(files.backup) == text;
      });
}

void ParseFormat(benchmark::State& state, const Files& files, const std::string& text,
                 std::size_t keys) {
  Measure(
      state, files, text,
      [&] {
        SectionMap sections;
        ParseSections(text, sections);
        sections["Loading"].Set("ForceVRMode", "1");
        return FormatSections(sections);
      },
      [&](const std::string& written) {
        SectionMap sections;
        ParseSections(written, sections);
        return KeyCount(sections) == keys && sections["Loading"].Find("ForceVRMode") == "1";
      });
}

void PropertyTree(benchmark::State& state, const Files& files, const std::string& text,
                  std::size_t keys) {
  namespace pt = boost::property_tree;
  Measure(
      state, files, text,
      [&] {
        pt::ptree tree;
        std::istringstream in(text);
        pt::read_ini(in, tree);
        tree.put("Loading.ForceVRMode", "1");
        std::ostringstream out;
        pt::write_ini(out, tree);
        return out.str();
      },
      [&](const std::string& written) {
        pt::ptree tree;
        std::istringstream in(written);
        pt::read_ini(in, tree);
        std::size_t found = 0;
        for (const auto& section : tree) found += section.second.size();
        return found == keys && tree.get<std::string>("Loading.ForceVRMode") == "1";
      });
}

void SimpleIni(benchmark::State& state, const Files& files, const std::string& text,
               std::size_t keys) {
  Measure(
      state, files, text,
      [&] {
        CSimpleIniA ini;
        ini.LoadData(text);
        ini.SetValue("Loading", "ForceVRMode", "1");
        std::string written;
        ini.Save(written);
        return written;
      },
      [&](const std::string& written) {
        CSimpleIniA ini;
        if (ini.LoadData(written) < 0) return false;
        CSimpleIniA::TNamesDepend sections;
        ini.GetAllSections(sections);
        std::size_t found = 0;
        for (const auto& section : sections) found += ini.GetSectionSize(section.pItem);
        const char* const value = ini.GetValue("Loading", "ForceVRMode");
        return found == keys && value != nullptr && std::string(value) == "1";
      });
}

using IniSections = std::map<std::string, std::map<std::string, std::string>>;

// What inih made of a text: the first line it could not read (0 for none) and
// the values it handed over.
struct IniParsed {
  int badLine = 0;
  IniSections sections;
};

// inih's handler: stores each value under its section and key.
int KeepValue(void* sections, const char* section, const char* key, const char* value) {
  (*static_cast<IniSections*>(sections))[section][key] = value;
  return 1;
}

void Inih(benchmark::State& state, const Files& files, const std::string& text, std::size_t keys) {
  Measure(
      state, files, text,
      [&] {
        IniParsed parsed;
        parsed.badLine = ini_parse_string(text.c_str(), KeepValue, &parsed.sections);
        return parsed;
      },
      // Nothing is written, so the launch's key keeps the value the text gives it.
      [&](const IniParsed& parsed) {
        std::size_t found = 0;
        for (const auto& [name, section] : parsed.sections) found += section.size();
        const auto loading = parsed.sections.find("Loading");
        return parsed.badLine == 0 && found == keys && loading != parsed.sections.end() &&
               loading->second.count("ForceVRMode") == 1 &&
               loading->second.at("ForceVRMode") == "0";
      });
}

}  // namespace

int main(int argc, char** argv) {
  // A launch touches its memory once. In a loop, the C library would hand
  // each iteration's large buffers back to the system and the next would
  // fault them in again, so every benchmark would mostly measure the
  // system's page faults; the process keeps its freed memory instead.
  mallopt(M_MMAP_THRESHOLD, 1 << 30);
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

  testing_support::TemporaryFolder appData;
  recording::Reset(appData.path());
  const Files files = [&] {
    const fs::path file = testing_support::SettingsFile(appData.path(), "settings");
    fs::create_directories(file.parent_path());
    return Files{file, testing_support::WithSuffix(file, ".bak")};
  }();

  // Registered size by size, so that each size's six numbers come out side
  // by side. Each benchmark keeps its own copy of the text.
  for (const std::size_t keys : {100, 1'000, 10'000, 100'000}) {
    const std::string text = SettingsText(keys);
    const std::string suffix = "/" + std::to_string(keys);
    for (auto* benchmark : {
             benchmark::RegisterBenchmark(("safe_floor" + suffix).c_str(), SafeFloor, files, text),
             benchmark::RegisterBenchmark(("store" + suffix).c_str(), Store, files, text, keys),
             benchmark::RegisterBenchmark(("parse_format" + suffix).c_str(), ParseFormat, files,
                                          text, keys),
             benchmark::RegisterBenchmark(("property_tree" + suffix).c_str(), PropertyTree, files,
                                          text, keys),
             benchmark::RegisterBenchmark(("simpleini" + suffix).c_str(), SimpleIni, files, text,
                                          keys),
             benchmark::RegisterBenchmark(("inih" + suffix).c_str(), Inih, files, text, keys),
         }) {
      benchmark->UseManualTime()->Unit(benchmark::kMicrosecond);
    }
  }

  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
