#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "config/ScriptedUi.h"
#include "config/WordOptions.h"

namespace nox::config {
namespace {

using testing::Boxes;

// One translation with every box answered OK and recorded; the session never ends here
// (Cancel is proven by whole runs).
struct Translation {
  explicit Translation(std::vector<std::string> words, bool lr = false, bool capsule = false,
                       const char* program = "C:\\NOX\\NOXWINGUI.EXE") {
    words.insert(words.begin(), program);
    out = TranslateWordOptions(words, lr, capsule, ui, end, [this](const std::string& t) { console += t; });
  }
  testing::ScriptedUi ui{ui::Button::kOk};
  testing::ThrowingEnd end;
  std::string console;
  TranslatedWordOptions out;
};

const std::string kLongestPassword = "/p=" + std::string(word_options::kMaxPasswordLength, 'a');

TEST(WordOptions, TranslateTheLineOrRefuseIt) {
  struct Case { std::vector<std::string> words; bool lr; int32_t result; std::vector<std::string> internal;
                bool boxShown; std::string console; };  // internal: after the path
  const std::string kRefused = "Command Check Error!\n";
  const Case cases[] = {
      {{}, false, 0, {"/reboot", "/x"}, true, ""},
      {{"/wipeall"}, false, 0, {"/p", "/b", "/n", "/k0", "/reboot", "/x"}, true, ""},
      {{"/WipeClean", "/noreboot"}, false, 0, {"/p", "/b", "/n", "/x"}, true, ""},
      // Factory, file writing and "nopause" with lr ask nothing; "log" and "sl" are left to start-up.
      {{"/factory"}, false, 0, {"/x"}, false, ""}, {{"/writeromfile"}, false, 0, {"/reboot", "/x"}, false, ""},
      {{"/writehdrfile"}, false, 0, {"/reboot", "/x"}, false, ""}, {{"/nopause"}, true, 0, {"/reboot", "/x"}, false, ""},
      {{"/log", "/sl"}, false, 0, {"/reboot", "/x"}, true, ""},
      {{"/forceit", "/forcetype"}, true, 0, {"/reboot", "/x"}, true, ""},
      {{"/rom=2", kLongestPassword}, false, 0, {"/reboot", "/x"}, true, ""},
      // /wipeclean first leaves "/p /b /n " in the text, which /wipeall does not look for.
      {{"/wipeclean", "/wipeall"}, false, 0, {"/p", "/b", "/n", "/p", "/b", "/n", "/k0", "/reboot", "/x"}, true, ""},
      {{"/LOG", "/log"}, false, -1, {}, false, kRefused}, {{"/wipeall", "/WIPEALL"}, false, -1, {}, false, kRefused},
      {{"/nopause", "/nopause"}, true, -1, {}, false, kRefused}, {{"/nopause"}, false, -1, {}, false, ""},
      {{"/log", "/FORCEIT"}, false, -1, {}, false, ""}, {{"/forcetype"}, false, -1, {}, false, ""},
      {{kLongestPassword + "b"}, false, -1, {}, false, ""},
      {{"/log", "-reboot"}, false, -1, {}, false, "- Unknow command : -reboot\n"},
      {{"Rom=3"}, false, -1, {}, false, "- Unknow command : rom=3\n"},
      {{""}, false, -1, {}, false, "- Unknow command : \n"},
      // Internal options are not word options; the box has been answered by then.
      {{"/p"}, false, -1, {}, true, ""}, {{"/flash"}, false, -1, {}, true, ""},
      {{"/wipeall", "/wipeclean"}, false, -1, {}, true, ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.words));
    const Translation r(c.words, c.lr);
    std::vector<std::string> arguments = c.internal;  // the program's path arrives lower-cased
    if (!arguments.empty()) arguments.insert(arguments.begin(), "c:\\nox\\noxwingui.exe");
    EXPECT_EQ(std::tuple(r.out.result, r.ui.boxes.size(), r.console, r.out.arguments),
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
  // The warning box tells of the restart only for a capsule script.
  for (const bool capsule : {false, true}) {
    const char* text = capsule ? "Start to flash ...\nSystem is going to reboot\nPress OK to continue or CANCEL to quit."
                               : "Start to flash ...\nPress OK to continue or CANCEL to quit.";
    EXPECT_EQ(Translation({}, false, capsule).ui.boxes, (Boxes{{text, "WARNING", 1}}));
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

// The whole line refuses a repeated word earlier; the text builder guards on its own.
TEST(WordOptions, InternalOptionTextRefusesARepeatedWipeAllOnItsOwn) {
  WordOptionFlags flags;
  std::string printed;
  const std::vector<std::string> words{"/wipeall", "/wipeall"};
  EXPECT_EQ(BuildInternalOptionText(words, flags, [&](const std::string& t) { printed += t; }), std::nullopt);
  EXPECT_EQ(printed, "Command Error !\n");
}

}  // namespace
}  // namespace nox::config
