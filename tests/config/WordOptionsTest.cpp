#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "config/WordOptions.h"
#include "core/SessionEnd.h"
#include "ui/Ui.h"

namespace nox::config {
namespace {

// One translation with every box answered OK and recorded; the session never ends here
// (Cancel is proven by whole runs).
struct Translation : ui::Ui, core::SessionEnd {
  explicit Translation(std::vector<std::string> words, bool lr = false, bool capsule = false,
                       const char* program = "C:\\NOX\\NOXWINGUI.EXE") {
    words.insert(words.begin(), program);
    out = TranslateWordOptions(words, lr, capsule, *this, *this, [this](const std::string& t) { console += t; });
  }
  ui::Button MessageBox(const std::string& text, const std::string& title, uint32_t style) override {
    boxes.push_back({text, title, std::to_string(style)});
    return ui::Button::kOk;
  }
  std::optional<std::string> AskPassword(const std::string&) override { return std::nullopt; }
  void ShowKorvInfo(const ui::KorvInfo&) override {}
  void RunMainDialog(ui::MainDialogHost&) override {}
  std::optional<std::string> OpenFileDialog(const ui::FileDialogSpec&) override { return std::nullopt; }
  std::optional<std::string> SaveFileDialog(const ui::FileDialogSpec&) override { return std::nullopt; }
  void Beep() override {}
  [[noreturn]] void EndSession(uint32_t) override { throw std::logic_error("the session ended"); }

  std::vector<std::vector<std::string>> boxes;  // text, title, style
  std::string console;
  TranslatedWordOptions out;
};

const std::string kLongestPassword = "/p=" + std::string(word_options::kMaxPasswordLength, 'a');

TEST(WordOptions, TranslateTheLineOrRefuseIt) {
  struct Case { const char* name; std::vector<std::string> words; bool lr; int32_t result;
                std::vector<std::string> internal; bool boxShown; std::string console; };  // internal: after the path
  const Case cases[] = {
      {"Nothing", {}, false, 0, {"/reboot", "/x"}, true, ""},
      {"WipeAll", {"/wipeall"}, false, 0, {"/p", "/b", "/n", "/k0", "/reboot", "/x"}, true, ""},
      {"WipeCleanNoReboot", {"/WipeClean", "/noreboot"}, false, 0, {"/p", "/b", "/n", "/x"}, true, ""},
      {"FactoryAloneAsksNothing", {"/factory"}, false, 0, {"/x"}, false, ""},
      {"WritingFilesAsksNothing", {"/writeromfile"}, false, 0, {"/reboot", "/x"}, false, ""},
      {"HeaderFileAsksNothing", {"/writehdrfile"}, false, 0, {"/reboot", "/x"}, false, ""},
      {"LogAndSlAreLeftToStartUp", {"/log", "/sl"}, false, 0, {"/reboot", "/x"}, true, ""},
      {"NoPauseWithLr", {"/nopause"}, true, 0, {"/reboot", "/x"}, false, ""},
      {"ForceItWithLr", {"/forceit", "/forcetype"}, true, 0, {"/reboot", "/x"}, true, ""},
      {"RomAndPasswordAddNoOption", {"/rom=2", kLongestPassword}, false, 0, {"/reboot", "/x"}, true, ""},
      // /wipeclean first leaves "/p /b /n " in the text, which /wipeall does not look for.
      {"WipeCleanThenWipeAll", {"/wipeclean", "/wipeall"}, false, 0,
       {"/p", "/b", "/n", "/p", "/b", "/n", "/k0", "/reboot", "/x"}, true, ""},
      {"SameWordInOtherCase", {"/LOG", "/log"}, false, -1, {}, false, "Command Check Error!\n"},
      {"WipeAllTwice", {"/wipeall", "/WIPEALL"}, false, -1, {}, false, "Command Check Error!\n"},
      {"NoPauseTwiceWithLr", {"/nopause", "/nopause"}, true, -1, {}, false, "Command Check Error!\n"},
      {"NoPauseWithoutLr", {"/nopause"}, false, -1, {}, false, ""},
      {"ForceItWithoutLr", {"/log", "/FORCEIT"}, false, -1, {}, false, ""},
      {"ForceTypeWithoutLr", {"/forcetype"}, false, -1, {}, false, ""},
      {"PasswordLongerThanItsField", {kLongestPassword + "b"}, false, -1, {}, false, ""},
      {"NoSlash", {"/log", "-reboot"}, false, -1, {}, false, "- Unknow command : -reboot\n"},
      {"NoSlashLowerCased", {"Rom=3"}, false, -1, {}, false, "- Unknow command : rom=3\n"},
      {"EmptyArgument", {""}, false, -1, {}, false, "- Unknow command : \n"},
      // Internal options are not word options; the box has been answered by then.
      {"InternalOptionP", {"/p"}, false, -1, {}, true, ""},
      {"UnknownWord", {"/flash"}, false, -1, {}, true, ""},
      {"WipeCleanAfterWipeAll", {"/wipeall", "/wipeclean"}, false, -1, {}, true, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Translation r(c.words, c.lr);
    std::vector<std::string> arguments = c.internal;  // the program's path arrives lower-cased
    if (!arguments.empty()) arguments.insert(arguments.begin(), "c:\\nox\\noxwingui.exe");
    EXPECT_EQ(std::tuple(r.out.result, r.boxes.size(), r.console, r.out.arguments),
              std::tuple(c.result, size_t{c.boxShown}, c.console, arguments));
  }
}

TEST(WordOptions, FlagsFollowTheirWordsAndTheFirstRomNumberAndPasswordCount) {
  const Translation r({"/factory", "/forceit", "/forcetype", "/lr", "/wipeclean", "/writehdrfile", "/rom=3", "/ROM=4",
                      "/p=SeCrEt", "/P=other"}, true);
  ASSERT_EQ(r.out.result, 0);
  const WordOptionFlags& f = r.out.flags;
  EXPECT_TRUE(f.noreboot && f.nopause && f.forceit && f.forcetype && f.lr && f.wipeclean && f.writehdrfile);
  EXPECT_FALSE(f.wipeall || f.writeromfile);
  EXPECT_EQ(std::tie(f.romGiven, f.romNumber, f.passwordGiven, f.password),
            std::make_tuple(true, 3u, true, std::string("secret")));  // the password arrives lower-cased
  EXPECT_EQ(Translation({kLongestPassword + "b"}).out.flags.password, "");  // nor is a refused one kept
}

TEST(WordOptions, WarningBoxTellsOfTheRestartOnlyForACapsuleScript) {
  for (const bool capsule : {false, true}) {
    const char* text = capsule ? "Start to flash ...\nSystem is going to reboot\nPress OK to continue or CANCEL to quit."
                               : "Start to flash ...\nPress OK to continue or CANCEL to quit.";
    EXPECT_EQ(Translation({}, false, capsule).boxes, (std::vector<std::vector<std::string>>{{text, "WARNING", "1"}}));
  }
}

TEST(WordOptions, ImageFilesAreNamedAfterTheLowerCasedProgram) {
  for (const auto& [program, header, rom] : {
           std::tuple{"C:\\Tools\\NOXWINGUI.EXE", "c:\\tools\\noxwingui.hdr", "c:\\tools\\noxwingui.rom"},
           {"noxwingui.exe", "noxwingui.hdr", "noxwingui.rom"},
           {"/opt/nox/noxwingui", "/opt/nox/noxwingui.hdr", "/opt/nox/noxwingui.rom"},
           {"d:\\a.exe.d\\nox", "d:\\a.exe.d\\hdr", "d:\\a.exe.d\\rom"}}) {  // ".exe" anywhere cuts three characters
    const Translation r({"/log"}, false, false, program);
    EXPECT_EQ(std::tie(r.out.headerFileName, r.out.romFileName), std::tuple(std::string(header), std::string(rom)));
  }
}

TEST(WordOptions, InternalOptionTextRefusesARepeatedWipeAllOnItsOwn) {
  // The whole line refuses a repeated word earlier; the text builder guards on its own.
  WordOptionFlags flags;
  std::string printed;
  const std::vector<std::string> words{"/wipeall", "/wipeall"};
  EXPECT_EQ(BuildInternalOptionText(words, flags, [&](const std::string& t) { printed += t; }), std::nullopt);
  EXPECT_EQ(printed, "Command Error !\n");
}

}  // namespace
}  // namespace nox::config
