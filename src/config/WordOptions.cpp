#include "config/WordOptions.h"

#include <algorithm>
#include <array>
#include <tuple>

#include "core/CText.h"
#include "core/Format.h"
#include "core/SessionEnd.h"
#include "ui/Ui.h"

namespace nox::config {
namespace {

using namespace std::string_view_literals;

// What the region words expand to, and the tail every run gets.
constexpr std::string_view kWipeAllText = "/p /b /n /k0 ";
constexpr std::string_view kWipeCleanText = "/p /b /n ";
constexpr std::string_view kRebootText = "/reboot ";
constexpr std::string_view kNoRomIdCheckText = "/x ";

// Each region word can be taken once (a repeat is refused below), so this is the longest
// text the translation can produce; it has to fit the option text and its words the word
// texts of the list.
static_assert(kWipeAllText.size() + kWipeCleanText.size() + kRebootText.size() + kNoRomIdCheckText.size() <=
              word_options::kOptionTextCapacity);
static_assert("/reboot"sv.size() < word_options::kWordCapacity);

// Words that only a technician may give: they take away the confirmation or the checks of
// the ROM image, so they need the lr flag.
constexpr std::array<std::string_view, 3> kLrOnlyWords = {"forceit", "forcetype", "nopause"};
constexpr std::array<std::string_view, 4> kNoPauseWords = {"nopause", "factory", "writeromfile", "writehdrfile"};

bool OneOf(std::string_view word, std::span<const std::string_view> list) {
  return std::find(list.begin(), list.end(), word) != list.end();
}

// The comparisons all look at the text after the leading "/".
std::string_view Word(const std::string& argument) {
  return argument.empty() ? std::string_view() : std::string_view(argument).substr(1);
}

std::vector<std::string> SplitAtBlanks(std::string_view text) {
  std::vector<std::string> words;
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t start = text.find_first_not_of(' ', pos);
    if (start == std::string_view::npos) break;
    const size_t end = std::min(text.find(' ', start), text.size());
    words.emplace_back(text.substr(start, end - start));
    pos = end;
  }
  return words;
}

}  // namespace

std::pair<std::string, std::string> ImageFileNames(std::string_view programPath) {
  if (programPath.find(".exe") != std::string_view::npos) {
    const std::string_view stem = programPath.substr(0, programPath.size() - 3);
    return {std::string(stem) + "hdr", std::string(stem) + "rom"};
  }
  return {core::Format("%.*s.hdr", static_cast<int>(programPath.size()), programPath.data()),
          core::Format("%.*s.rom", static_cast<int>(programPath.size()), programPath.data())};
}

std::optional<std::string> BuildInternalOptionText(std::span<const std::string> words, WordOptionFlags& flags,
                                                   const ConsolePrinter& print) {
  std::string text;
  for (const std::string& argument : words) {
    const std::string_view word = Word(argument);
    if (word == "factory" || word == "noreboot") {
      flags.noreboot = true;
    } else if (word == "forceit") {
      flags.forceit = true;
    } else if (word == "forcetype") {
      flags.forcetype = true;
    } else if (word == "nopause") {
      flags.nopause = true;
    } else if (word == "writehdrfile") {
      flags.writehdrfile = true;
    } else if (word == "writeromfile") {
      flags.writeromfile = true;
    } else if (word == "lr") {
      flags.lr = true;
    } else if (word == "wipeall") {
      if (text.find(kWipeAllText) != std::string::npos) {
        print("Command Error !\n");
        return std::nullopt;
      }
      flags.wipeall = true;
      text += kWipeAllText;
    } else if (word == "wipeclean") {
      // After /wipeall the regions are already chosen; asking again for fewer is a mistake.
      if (text.find(kWipeCleanText) != std::string::npos) return std::nullopt;
      flags.wipeclean = true;
      text += kWipeCleanText;
    } else if (word.starts_with("rom=")) {
      flags.romGiven = true;
    } else if (word.starts_with("p=")) {
      flags.passwordGiven = true;
    } else if (word == "log" || word == "sl") {
      // Start-up looks for these itself.
    } else {
      return std::nullopt;
    }
  }
  if (!flags.noreboot) text += kRebootText;
  text += kNoRomIdCheckText;
  return text;
}

TranslatedWordOptions TranslateWordOptions(std::span<const std::string> args, bool lrFlag, bool capsuleWarning,
                                           ui::Ui& ui, core::SessionEnd& session, const ConsolePrinter& print) {
  TranslatedWordOptions out;
  std::vector<std::string> lowered;
  lowered.reserve(args.size());
  for (const std::string& a : args) lowered.push_back(core::AsciiLower(a));
  const std::string programPath = lowered.empty() ? std::string() : lowered[0];
  const std::span<const std::string> words =
      lowered.empty() ? std::span<const std::string>() : std::span<const std::string>(lowered).subspan(1);

  for (const std::string& argument : words) {
    if (!argument.starts_with('/')) {
      print(core::Format("- Unknow command : %s\n", argument.c_str()));
      return out;
    }
  }

  std::tie(out.headerFileName, out.romFileName) = ImageFileNames(programPath);

  if (!lrFlag) {
    for (const std::string& argument : words) {
      if (OneOf(Word(argument), kLrOnlyWords)) return out;
    }
  }

  WordOptionFlags& flags = out.flags;
  for (const std::string& argument : words) {
    const std::string_view word = Word(argument);
    if (!flags.nopause && OneOf(word, kNoPauseWords)) flags.nopause = true;
    if (!flags.romGiven && word.starts_with("rom=")) {
      // Read as the C library reads a number; a negative one wraps, as it would there.
      flags.romNumber = static_cast<uint32_t>(core::CDecimal(word.substr(4)));
      flags.romGiven = true;
    }
    if (!flags.passwordGiven && word.starts_with("p=")) {
      const std::string_view password = word.substr(2);
      // A cut password would be a wrong one and cost one of the firmware's few attempts.
      if (password.size() > word_options::kMaxPasswordLength) {
        out.refusal = core::Format("Error : The password given with /p= is too long (at most %u characters).\n",
                                   static_cast<unsigned>(word_options::kMaxPasswordLength));
        return out;
      }
      flags.password = std::string(password);
      flags.passwordGiven = true;
    }
    if (std::count(lowered.begin(), lowered.end(), argument) > 1) {
      print("Command Check Error!\n");
      return out;
    }
  }

  if (!flags.nopause) {
    const char* text = capsuleWarning ? word_options::kWarningTextReboot : word_options::kWarningText;
    if (ui.MessageBox(text, word_options::kWarningTitle, ui::style::kOkCancel) == ui::Button::kCancel) {
      session.EndSession(0);
    }
  }

  const std::optional<std::string> text = BuildInternalOptionText(words, flags, print);
  if (!text) return out;

  out.arguments.push_back(programPath);
  for (std::string& w : SplitAtBlanks(*text)) out.arguments.push_back(std::move(w));
  out.result = 0;
  return out;
}

}  // namespace nox::config
