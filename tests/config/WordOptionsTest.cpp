#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "config/WordOptions.h"
#include "core/SessionEnd.h"
#include "ui/Ui.h"

namespace nox::config {
namespace {

struct SessionEnded {
  uint32_t errorId;
};

class ThrowingSessionEnd : public core::SessionEnd {
 public:
  [[noreturn]] void EndSession(uint32_t errorId) override { throw SessionEnded{errorId}; }
};

struct Box {
  std::string text;
  std::string title;
  uint32_t style;
};

class RecordingUi : public ui::Ui {
 public:
  ui::Button MessageBox(const std::string& text, const std::string& title, uint32_t style) override {
    boxes.push_back({text, title, style});
    return answer;
  }
  std::optional<std::string> AskPassword(const std::string&) override { return std::nullopt; }
  void ShowKorvInfo(const ui::KorvInfo&) override {}
  void RunMainDialog(ui::MainDialogHost&) override {}

  ui::Button answer = ui::Button::kOk;
  std::vector<Box> boxes;
};

struct Translation {
  RecordingUi ui;
  ThrowingSessionEnd session;
  std::string console;
  TranslatedWordOptions out;
};

std::vector<std::string> Line(const std::vector<const char*>& words, const char* program = "C:\\NOX\\NOXWINGUI.EXE") {
  std::vector<std::string> args{program};
  for (const char* w : words) args.emplace_back(w);
  return args;
}

std::unique_ptr<Translation> Translate(const std::vector<std::string>& args, bool lr = false, bool capsule = false) {
  auto r = std::make_unique<Translation>();
  r->out = TranslateWordOptions(args, lr, capsule, r->ui, r->session,
                                [&console = r->console](const std::string& t) { console += t; });
  return r;
}

// --- the command line as a whole ------------------------------------------------------------

struct LineCase {
  const char* name;
  std::vector<const char*> words;
  bool lr;
  int32_t result;
  std::vector<std::string> internal;  // after the program path; checked when result is 0
  bool boxShown;
  std::string console;
};

class CommandLine : public ::testing::TestWithParam<LineCase> {};

TEST_P(CommandLine, TranslatesOrRefuses) {
  const LineCase& c = GetParam();
  auto r = Translate(Line(c.words), c.lr);
  EXPECT_EQ(r->out.result, c.result);
  EXPECT_EQ(r->ui.boxes.size(), c.boxShown ? 1u : 0u);
  EXPECT_EQ(r->console, c.console);
  if (c.result == 0) {
    std::vector<std::string> expected{"c:\\nox\\noxwingui.exe"};
    expected.insert(expected.end(), c.internal.begin(), c.internal.end());
    EXPECT_EQ(r->out.arguments, expected);
  } else {
    EXPECT_TRUE(r->out.arguments.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Lines, CommandLine,
    ::testing::Values(
        LineCase{"Nothing", {}, false, 0, {"/reboot", "/x"}, true, ""},
        LineCase{"WipeAll", {"/wipeall"}, false, 0, {"/p", "/b", "/n", "/k0", "/reboot", "/x"}, true, ""},
        LineCase{"WipeCleanNoReboot", {"/WipeClean", "/noreboot"}, false, 0, {"/p", "/b", "/n", "/x"}, true, ""},
        LineCase{"FactoryAloneAsksNothing", {"/factory"}, false, 0, {"/x"}, false, ""},
        LineCase{"WritingFilesAsksNothing", {"/writeromfile"}, false, 0, {"/reboot", "/x"}, false, ""},
        LineCase{"HeaderFileAsksNothing", {"/writehdrfile"}, false, 0, {"/reboot", "/x"}, false, ""},
        LineCase{"LogAndSlAreLeftToStartUp", {"/log", "/sl"}, false, 0, {"/reboot", "/x"}, true, ""},
        LineCase{"NoPauseWithLr", {"/nopause"}, true, 0, {"/reboot", "/x"}, false, ""},
        LineCase{"ForceItWithLr", {"/forceit", "/forcetype"}, true, 0, {"/reboot", "/x"}, true, ""},
        LineCase{"RomAndPasswordAddNoOption", {"/rom=2", "/p=pw"}, false, 0, {"/reboot", "/x"}, true, ""},
        // /wipeclean first leaves "/p /b /n " in the text, which /wipeall does not look for.
        LineCase{"WipeCleanThenWipeAll", {"/wipeclean", "/wipeall"}, false, 0,
                 {"/p", "/b", "/n", "/p", "/b", "/n", "/k0", "/reboot", "/x"}, true, ""},
        LineCase{"SameWordInOtherCase", {"/LOG", "/log"}, false, -1, {}, false, "Command Check Error!\n"},
        LineCase{"WipeAllTwice", {"/wipeall", "/WIPEALL"}, false, -1, {}, false, "Command Check Error!\n"},
        LineCase{"NoPauseTwiceWithLr", {"/nopause", "/nopause"}, true, -1, {}, false, "Command Check Error!\n"},
        LineCase{"NoPauseWithoutLr", {"/nopause"}, false, -1, {}, false, ""},
        LineCase{"ForceItWithoutLr", {"/log", "/FORCEIT"}, false, -1, {}, false, ""},
        LineCase{"ForceTypeWithoutLr", {"/forcetype"}, false, -1, {}, false, ""},
        LineCase{"NoSlash", {"/log", "-reboot"}, false, -1, {}, false, "- Unknow command : -reboot\n"},
        LineCase{"NoSlashLowerCased", {"Rom=3"}, false, -1, {}, false, "- Unknow command : rom=3\n"},
        LineCase{"EmptyArgument", {""}, false, -1, {}, false, "- Unknow command : \n"},
        // Internal options are not word options; the box has been answered by then.
        LineCase{"InternalOptionP", {"/p"}, false, -1, {}, true, ""},
        LineCase{"UnknownWord", {"/flash"}, false, -1, {}, true, ""},
        LineCase{"WipeCleanAfterWipeAll", {"/wipeall", "/wipeclean"}, false, -1, {}, true, ""}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(WordOptions, FirstRomNumberAndFirstPasswordCountAndASecondIsNoDuplicate) {
  auto r = Translate(Line({"/rom=3", "/ROM=4", "/p=SeCrEt", "/P=other"}));
  ASSERT_EQ(r->out.result, 0);
  EXPECT_TRUE(r->out.flags.romGiven && r->out.flags.passwordGiven);
  EXPECT_EQ(r->out.flags.romNumber, 3u);
  EXPECT_EQ(r->out.flags.password, "secret");  // arrives lower-cased
  EXPECT_EQ(r->console, "");
}

TEST(WordOptions, PasswordLongerThanItsFieldIsRefusedBeforeTheBox) {
  const std::string longest(word_options::kMaxPasswordLength, 'a');
  auto fits = Translate({"nox.exe", "/p=" + longest});
  ASSERT_EQ(fits->out.result, 0);
  EXPECT_EQ(fits->out.flags.password, longest);

  auto tooLong = Translate({"nox.exe", "/p=" + longest + "b"});
  EXPECT_EQ(tooLong->out.result, -1);
  EXPECT_TRUE(tooLong->ui.boxes.empty());
  EXPECT_TRUE(tooLong->out.flags.password.empty());
}

TEST(WordOptions, FlagsFollowTheirWords) {
  auto r = Translate(Line({"/factory", "/forceit", "/forcetype", "/lr", "/wipeclean", "/writehdrfile"}), true);
  ASSERT_EQ(r->out.result, 0);
  const WordOptionFlags& f = r->out.flags;
  EXPECT_TRUE(f.noreboot && f.nopause && f.forceit && f.forcetype && f.lr && f.wipeclean && f.writehdrfile);
  EXPECT_FALSE(f.wipeall || f.writeromfile || f.romGiven || f.passwordGiven);
}

// --- the confirmation box -------------------------------------------------------------------

TEST(WarningBox, TextTellsOfTheRestartOnlyForACapsuleScript) {
  auto plain = Translate(Line({}), false, false);
  ASSERT_EQ(plain->ui.boxes.size(), 1u);
  EXPECT_EQ(plain->ui.boxes[0].text, "Start to flash ...\nPress OK to continue or CANCEL to quit.");
  EXPECT_EQ(plain->ui.boxes[0].title, "WARNING");
  EXPECT_EQ(plain->ui.boxes[0].style, 1u);

  auto capsule = Translate(Line({}), false, true);
  ASSERT_EQ(capsule->ui.boxes.size(), 1u);
  EXPECT_EQ(capsule->ui.boxes[0].text,
            "Start to flash ...\nSystem is going to reboot\nPress OK to continue or CANCEL to quit.");
}

// --- the pieces -----------------------------------------------------------------------------

TEST(InternalOptionText, ARepeatedRegionWordIsRefused) {
  // The whole line refuses a repeated word earlier; the text builder guards on its own.
  WordOptionFlags flags;
  std::string console;
  const auto print = [&](const std::string& t) { console += t; };
  EXPECT_EQ(BuildInternalOptionText(std::vector<std::string>{"/wipeall", "/wipeall"}, flags, print), std::nullopt);
  EXPECT_EQ(console, "Command Error !\n");
  console.clear();
  EXPECT_EQ(BuildInternalOptionText(std::vector<std::string>{"/wipeclean", "/wipeclean"}, flags, print), std::nullopt);
  EXPECT_EQ(console, "");
}

struct FileNameCase {
  const char* program;
  const char* header;
  const char* rom;
};

class ImageFiles : public ::testing::TestWithParam<FileNameCase> {};

TEST_P(ImageFiles, AreNamedAfterTheLowerCasedProgram) {
  auto r = Translate({GetParam().program, "/log"});
  EXPECT_EQ(r->out.headerFileName, GetParam().header);
  EXPECT_EQ(r->out.romFileName, GetParam().rom);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, ImageFiles,
    ::testing::Values(FileNameCase{"C:\\Tools\\NOXWINGUI.EXE", "c:\\tools\\noxwingui.hdr", "c:\\tools\\noxwingui.rom"},
                      FileNameCase{"noxwingui.exe", "noxwingui.hdr", "noxwingui.rom"},
                      FileNameCase{"/opt/nox/noxwingui", "/opt/nox/noxwingui.hdr", "/opt/nox/noxwingui.rom"},
                      // ".exe" anywhere counts, and the last three characters make way.
                      FileNameCase{"d:\\a.exe.d\\nox", "d:\\a.exe.d\\hdr", "d:\\a.exe.d\\rom"}));

}  // namespace
}  // namespace nox::config
