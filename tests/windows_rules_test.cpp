#include <algorithm>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <gmock/gmock.h>

#include "platform/windows_rules.h"

namespace {

using platform::ArgumentsAfterProgramName;
using platform::ExtendedLengthForm;
using platform::WithoutExtendedPrefix;

TEST(ProgramName, EndsWhereWindowsEndsItWhateverItHolds) {
  const struct {
    const wchar_t* commandLine;
    const wchar_t* arguments;
  } cases[] = {
      {L"\"C:\\Program Files\\X-Plane 12\\CirrovaneXR.exe\" -ResetConfig", L"-ResetConfig"},
      {L"\"C:\\Cirrovane-ResetConfig\\CirrovaneXR.exe\"", L""},
      {L"\"C:\\Games\\CirrovaneXR.exe\"-ResetConfig", L"-ResetConfig"},
      {L"\"C:\\Démo -ResetConfig\\CirrovaneXR.exe", L""},
      {L"C:\\Démo-ResetConfig\\CirrovaneXR.exe", L""},
      {L"C:\\漢字-ResetConfig\\CirrovaneXR.exe \t --fast  -ResetConfig ", L"--fast  -ResetConfig "},
      {L"C:\\Démo\\Cirrovane\"XR.exe\" -x", L"-x"},
      {L"CirrovaneXR.exe\t-ResetConfig", L"-ResetConfig"},
      {L"", L""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ArgumentsAfterProgramName(c.commandLine), c.arguments) << c.commandLine;
  }
}

// Fills like GetModuleFileNameW: a path that does not fit is cut to the
// buffer (with its terminating zero) and the buffer's size returned; or like
// GetFullPathNameW, which then returns the size it needs.
class ModuleFileName {
 public:
  ModuleFileName(std::wstring path, bool answersNeed)
      : path_(std::move(path)), need_(answersNeed) {}

  std::size_t operator()(wchar_t* buffer, std::size_t size) const {
    const std::size_t copied = std::min(path_.size(), size - 1);
    std::copy_n(path_.begin(), copied, buffer);
    buffer[copied] = L'\0';
    return path_.size() < size ? path_.size() : need_ ? path_.size() + 1 : size;
  }

 private:
  std::wstring path_;
  bool need_;
};

TEST(OwnExecutablePath, BufferGrowsUntilTheWholePathFits) {
  // Around MAX_PATH (260), where a cut path first fills the whole buffer.
  for (const std::size_t length : {259u, 260u, 261u, 1000u, 40000u}) {
    const std::wstring path = L"C:\\" + std::wstring(length - 19, L'x') + L"\\CirrovaneXR.exe";
    for (const bool answersNeed : {false, true}) {
      EXPECT_EQ(platform::WholePath(ModuleFileName(path, answersNeed)), path) << length;
    }
  }
}

// A drive path `length` characters long.
std::wstring DrivePath(std::size_t length) { return L"C:\\" + std::wstring(length - 3, L'd'); }

TEST(LongPaths, TheFullPathsLengthDecidesAndDevicePathsStayAsGiven) {
  const std::wstring name(246, L'd'), deep = L"C:\\" + name + L"\\x.ini", tail = deep.substr(3);
  const std::wstring unc = LR"(\\server\share\)" + tail, volume = LR"(\\?\Volume{0}\)" + tail;
  const struct {
    std::wstring given, full, extended, plain;  // plain: `extended` without its prefix.
  } cases[] = {
      {L"x.ini", deep, LR"(\\?\)" + deep, deep},
      {unc, unc, LR"(\\?\UNC\server\share\)" + tail, unc},
      {L"C:/" + name + L"/a/../x.ini", L"C:/" + name + L"/x.ini", LR"(\\?\)" + deep, deep},
      {LR"(\\.\)" + tail, LR"(\\.\)" + tail, LR"(\\.\)" + tail, LR"(\\.\)" + tail},
      {LR"(\??\)" + deep, LR"(\??\)" + deep, LR"(\??\)" + deep, LR"(\??\)" + deep},
      {LR"(\\?\)" + deep, LR"(\\?\)" + deep, LR"(\\?\)" + deep, deep},
      {volume, volume, volume, volume},
      {DrivePath(247), DrivePath(247), DrivePath(247), DrivePath(247)},
      {DrivePath(248), DrivePath(248), LR"(\\?\)" + DrivePath(248), DrivePath(248)},
      {DrivePath(260), DrivePath(260), LR"(\\?\)" + DrivePath(260), DrivePath(260)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ExtendedLengthForm(c.given, c.full), c.extended) << c.given;
    EXPECT_EQ(WithoutExtendedPrefix(c.extended), c.plain) << c.extended;
  }
}

// Written as WriteFile may do it: fewer bytes than given, or none while
// reporting success (after ten calls the fake writes all, so a loop over
// that ends, wrongly successful).
TEST(WriteInChunks, ShortWritesGoOnAndOneThatWritesNothingFails) {
  for (const std::size_t most : {std::size_t{3}, std::size_t{0}}) {
    std::string written;
    const auto write = [&, calls = 0](std::string_view chunk, std::size_t* done) mutable {
      *done = ++calls > 10 ? chunk.size() : std::min(most, chunk.size());
      written.append(chunk.substr(0, *done));
      return 0u;
    };
    EXPECT_EQ(platform::WriteInChunks("ten bytes!", write), most ? 0 : platform::kErrorWriteFault);
    EXPECT_EQ(written, most ? "ten bytes!" : "");
  }
}

// The Restart Manager's list, asked again while programs keep opening the file.
TEST(ListWhileMoreData, AsksAgainAtTheSizeItNeedsFiveTimesAtMost) {
  for (const unsigned moreData : {2u, 9u}) {
    std::vector<int> found;
    std::vector<unsigned> sizes;  // Passed with each buffer, which is filled to it.
    const auto list = [&](int* buffer, unsigned* needed, unsigned* count) {
      sizes.push_back(*count);
      std::fill_n(buffer, *count, -1);
      *needed = 2 + static_cast<unsigned>(sizes.size());
      if (sizes.size() <= moreData || *count < 2) return platform::kErrorMoreData;
      *count = 2, buffer[0] = 7, buffer[1] = 8;
      return 0u;
    };
    EXPECT_EQ(platform::ListWhileMoreData(&found, list),
              moreData < 5 ? 0 : platform::kErrorMoreData);
    EXPECT_EQ(sizes, (moreData < 5 ? std::vector<unsigned>{0, 3, 4}
                                   : std::vector<unsigned>{0, 3, 4, 5, 6}));
    EXPECT_EQ(found, (moreData < 5 ? std::vector<int>{7, 8} : std::vector<int>()));
  }
}

TEST(ErrorNumberOf, OnlyAWin32HresultGivesItsLowWord) {
  EXPECT_EQ(platform::ErrorNumberOf(0x80070005), 5u);           // E_ACCESSDENIED
  EXPECT_EQ(platform::ErrorNumberOf(0x80004005), 0x80004005u);  // E_FAIL
}

TEST(FinalName, OtherFormsAreAskedInTurnAndTheFirstFailureIsTold) {
  using Answers = std::vector<std::uint32_t>;
  for (const Answers& answers :
       {Answers{0}, Answers{3, 0}, Answers{5, 87, 0}, Answers{5, 87, 50}}) {
    std::vector<std::uint32_t> asked;
    const auto name = [&](std::uint32_t form) {
      return asked.push_back(form), answers[asked.size() - 1];
    };
    EXPECT_EQ(platform::NameInFirstForm(name), answers.back() == 0 ? 0 : answers[0]);
    EXPECT_EQ(asked, std::vector<std::uint32_t>(platform::kFinalNameForms,
                                                platform::kFinalNameForms + answers.size()));
  }
}

}  // namespace
