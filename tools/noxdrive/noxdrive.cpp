// noxdrive: drives a Windows program from outside, the way a user would, from a script. It
// finds windows by title and class, clicks and ticks controls by id, types into edits one
// key at a time, reads texts and states, answers message boxes and file dialogs and saves
// screenshots, and stops at the first thing that does not hold.
//
//   noxdrive [-v] [SCRIPT]      SCRIPT "-" or none: standard input; -v echoes every command
//                               with the milliseconds since the script began
//
// Exit code: 0 every command held; 1 a command failed (the message gives the line, the
// command and what was found instead); 2 the script cannot be read or has a syntax error
// (then nothing is run). A program still running at a failure or at the end of the script
// is ended, and so is every program started when noxdrive itself is ended.
//
// A script holds one command per line. Words are separated by blanks; "..." holds blanks and
// the escapes \" \\ \n \t; an unquoted word starting with # begins a comment. ID is a control
// id. A MATCH is one of
//     TEXT | is TEXT     the whole text          has TEXT     contains TEXT
//     like PATTERN       * any run of characters, ? any one character
// where is/has/like are keywords only when they are not quoted.
// Every wait polls until its condition holds, up to the command's deadline (default 20 s);
// input is delivered to the program's own message queue and a command returns once the
// program has handled it (or sits in a modal loop again, e.g. under a box it opened).
//
//   timeout SECONDS                  the deadline of the commands that follow
//   within SECONDS COMMAND ...       one command with its own deadline
//   start [-env NAME=VALUE]... PROGRAM
//                                    starts the program (standard input empty, output shared)
//   wait-exit CODE [watch]           waits for the started program to end with CODE; watch
//                                    prints the longest the current window took to answer
//   window [title MATCH] [class MATCH]
//                                    waits for a visible top-level window; it becomes the
//                                    current window and the scope of control ids
//   find [class MATCH] [text MATCH]
//                                    waits for a window inside the current window (a property
//                                    page, a group, a control); ids are then looked up in it
//   click ID                         clicks a button (fails when the user could not click it)
//   check ID                         clicks a check box unless it is checked already
//   tab MATCH                        clicks the tab with that title on the tab strip in scope
//   type ID TEXT                     types TEXT into an edit (or a combo box's edit), key by key
//   clear ID                         selects everything in an edit and presses Backspace
//   text ID MATCH                    the control's text matches now
//   wait-text ID MATCH               ... once the program gets there
//   state ID STATE...                enabled disabled visible hidden checked unchecked, now
//   wait-state ID STATE...           ... once the program gets there
//   answer MATCH BUTTON [MATCH]      presses BUTTON (OK Cancel Abort Retry Ignore Yes No) on a
//                                    message box with that title (and text, when given) and
//                                    waits for the box to close
//   file MATCH ok PATH               puts PATH into the file name of an open/save dialog with
//                                    that title and presses OK (returns when the dialog is gone
//                                    or waits behind a box of its own)
//   screenshot FILE.png              saves the current window as it is on the screen
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "DriveScript.h"
#include "DriveWindows.h"

namespace {

using namespace noxdrive;

struct Driver;
using Action = std::function<void(Driver&, const Deadline&)>;

struct Step {
  int line = 0;
  std::string source;
  std::optional<double> seconds;
  Action action;
};

struct Driver {
  bool verbose = false;
  double seconds = 20;
  HANDLE job = nullptr;
  HANDLE process = nullptr;
  int line = 0;  // of the command running
  int startedOn = 0;
  HWND top = nullptr;
  HWND scope = nullptr;

  static HWND Current(HWND w) {
    if (!w) throw Failure{"no current window (a window command comes first)"};
    if (!IsWindow(w)) throw Failure{"the current window has closed"};
    return w;
  }

  HWND Control(int id, const Deadline& deadline, const wchar_t* cls = nullptr) const {
    const HWND in = Current(scope);
    HWND found = nullptr;
    if (!Poll(deadline, [&] { return (found = ChildById(in, id, cls)) != nullptr; })) {
      throw Failure{"no " + std::string(cls ? "button" : "control") + " with id " + std::to_string(id) + " in " +
                    Describe(in)};
    }
    return found;
  }

  void EndProgram() {
    if (!process) return;
    TerminateProcess(process, 255);
    WaitForSingleObject(process, 5000);
    CloseHandle(process);
    process = nullptr;
  }
};

bool IsChecked(HWND c, const Deadline& deadline) { return Ask(c, BM_GETCHECK, 0, 0, deadline) == BST_CHECKED; }

// A condition that must hold now, or once the program gets there.
bool Holds(bool wait, const Deadline& deadline, const std::function<bool()>& holds) {
  return wait ? Poll(deadline, holds) : holds();
}

std::wstring FullPath(const std::wstring& path) {
  wchar_t full[MAX_PATH * 4] = {};
  const DWORD n = GetFullPathNameW(path.c_str(), MAX_PATH * 4, full, nullptr);
  return n > 0 && n < MAX_PATH * 4 ? std::wstring(full) : path;
}

Action ParseTimeout(Args& a) {
  const double s = a.Seconds();
  return [s](Driver& d, const Deadline&) { d.seconds = s; };
}

Action ParseStart(Args& a) {
  std::vector<std::pair<std::wstring, std::wstring>> env;
  while (a.Keyword("-env")) {
    const std::string setting = a.Text("NAME=VALUE");
    const size_t equals = setting.find('=');
    if (equals == std::string::npos || equals == 0) throw SyntaxError{"\"" + setting + "\" is not NAME=VALUE"};
    env.emplace_back(Wide(setting.substr(0, equals)), Wide(setting.substr(equals + 1)));
  }
  const std::wstring program = Wide(a.Text("the program"));
  return [=](Driver& d, const Deadline&) {
    if (d.process) throw Failure{"the program started on line " + std::to_string(d.startedOn) + " is still running"};
    // A program named with a path runs from where noxdrive stands, not from the search path.
    const bool here = program.find_first_of(L"\\/") != std::wstring::npos ||
                      GetFileAttributesW(program.c_str()) != INVALID_FILE_ATTRIBUTES;
    std::wstring line = L"\"" + (here ? FullPath(program) : program) + L"\"";
    // The settings go into noxdrive's own environment, which the program inherits, and are
    // undone once it has started.
    std::vector<std::pair<std::wstring, std::optional<std::wstring>>> before;
    for (const auto& [name, value] : env) {
      std::wstring old(32767, L'\0');
      const DWORD n = GetEnvironmentVariableW(name.c_str(), old.data(), 32767);
      before.emplace_back(name, n > 0 && n < 32767 ? std::optional(old.substr(0, n)) : std::nullopt);
      SetEnvironmentVariableW(name.c_str(), value.c_str());
    }
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    const HANDLE nul = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING,
                                   0, nullptr);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = nul;
    si.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    SetHandleInformation(si.hStdOutput, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    SetHandleInformation(si.hStdError, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    PROCESS_INFORMATION pi{};
    const BOOL ok =
        CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr, nullptr, &si, &pi);
    const DWORD error = GetLastError();
    for (auto it = before.rbegin(); it != before.rend(); ++it) {
      SetEnvironmentVariableW(it->first.c_str(), it->second ? it->second->c_str() : nullptr);
    }
    if (nul != INVALID_HANDLE_VALUE) CloseHandle(nul);
    if (!ok) throw Failure{"cannot start " + Narrow(line) + " (error " + std::to_string(error) + ")"};
    // The job ends the program with noxdrive, whatever ends noxdrive.
    if (!AssignProcessToJobObject(d.job, pi.hProcess)) {
      TerminateProcess(pi.hProcess, 255);
      CloseHandle(pi.hThread);
      CloseHandle(pi.hProcess);
      throw Failure{"the program cannot be tied to noxdrive's lifetime (error " + std::to_string(GetLastError()) + ")"};
    }
    ResumeThread(pi.hThread);
    CloseHandle(pi.hThread);
    d.process = pi.hProcess;
    d.startedOn = d.line;
    d.top = d.scope = nullptr;
  };
}

// With "watch", the current window is asked for an answer every 20 ms while the program
// runs, and the longest wait for one is printed: how long a user would find it frozen.
Action ParseWaitExit(Args& a) {
  const long long code = a.Number("an exit code");
  const bool watch = a.Keyword("watch");
  return [code, watch](Driver& d, const Deadline& deadline) {
    if (!d.process) throw Failure{"no program is running"};
    if (watch && d.top) {
      ULONGLONG longest = 0;
      const HWND w = d.top;
      while (WaitForSingleObject(d.process, 20) == WAIT_TIMEOUT) {
        if (deadline.RemainingMs() == 0) throw Failure{"the program is still running\n" + ScreenReport()};
        const ULONGLONG asked = GetTickCount64();
        DWORD_PTR ignored = 0;
        if (!SendMessageTimeoutW(w, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &ignored)) break;
        longest = std::max(longest, GetTickCount64() - asked);
      }
      std::printf("longest answer while waiting: %llu ms\n", static_cast<unsigned long long>(longest));
      std::fflush(stdout);
    }
    if (WaitForSingleObject(d.process, deadline.RemainingMs()) != WAIT_OBJECT_0) {
      throw Failure{"the program is still running\n" + ScreenReport()};
    }
    DWORD exit = 0;
    GetExitCodeProcess(d.process, &exit);
    CloseHandle(d.process);
    d.process = nullptr;
    d.top = d.scope = nullptr;
    if (static_cast<long long>(exit) != code && static_cast<long long>(static_cast<int>(exit)) != code) {
      throw Failure{"the program exited with " + std::to_string(exit)};
    }
  };
}

// "KEYWORD MATCH" pairs in any order, by keyword.
std::map<std::string, Match> TakeMatches(Args& a, const std::vector<const char*>& keywords, const char* command) {
  std::map<std::string, Match> found;
  while (!a.Done()) {
    const auto it = std::find_if(keywords.begin(), keywords.end(), [&](const char* k) { return a.Keyword(k); });
    if (it == keywords.end()) throw SyntaxError{"unexpected \"" + a.Text("") + "\""};
    found[*it] = a.TakeMatch(*it);
  }
  if (found.empty()) throw SyntaxError{std::string(command) + " needs a " + keywords[0] + " or a " + keywords[1]};
  return found;
}

// Whether the window's text and class are as asked.
bool Fits(HWND w, const std::map<std::string, Match>& want, const Deadline& deadline) {
  for (const auto& [what, match] : want) {
    if (!match(what == "class" ? ClassOf(w) : TextOf(w, deadline).value_or(L""))) return false;
  }
  return true;
}

Action ParseWindow(Args& a) {
  const auto want = TakeMatches(a, {"title", "class"}, "window");
  return [=](Driver& d, const Deadline& deadline) {
    const HWND found = FindTop(deadline, [&](HWND w) { return Fits(w, want, deadline); });
    if (!found) throw Failure{"no such window\n" + ScreenReport()};
    d.top = d.scope = found;
  };
}

Action ParseFind(Args& a) {
  const auto want = TakeMatches(a, {"class", "text"}, "find");
  return [=](Driver& d, const Deadline& deadline) {
    const HWND top = Driver::Current(d.top);
    HWND found = nullptr;
    if (!Poll(deadline, [&] { return (found = Child(top, [&](HWND w) { return Fits(w, want, deadline); })) != nullptr; })) {
      throw Failure{"no such window inside " + Describe(top)};
    }
    d.scope = found;
  };
}

Action ParseClick(Args& a) {
  const int id = a.Id();
  return [id](Driver& d, const Deadline& deadline) { Press(d.Control(id, deadline, WC_BUTTONW), deadline); };
}

Action ParseCheck(Args& a) {
  const int id = a.Id();
  return [=](Driver& d, const Deadline& deadline) {
    const HWND c = d.Control(id, deadline, WC_BUTTONW);
    if (IsChecked(c, deadline)) return;
    Press(c, deadline);
    if (!IsChecked(c, deadline)) throw Failure{"the box stays unchecked after the click"};
  };
}

// Memory inside the program's process, for a control that answers through pointers (both
// sides are 64-bit, so their structures agree).
struct RemoteBuffer {
  RemoteBuffer(HWND owner, size_t size) {
    DWORD pid = 0;
    GetWindowThreadProcessId(owner, &pid);
    process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    at = process ? static_cast<char*>(VirtualAllocEx(process, nullptr, size, MEM_COMMIT, PAGE_READWRITE)) : nullptr;
    if (!at) {
      const DWORD error = GetLastError();
      if (process) CloseHandle(process);
      throw Failure{"cannot reach the program's memory (error " + std::to_string(error) + ")"};
    }
  }
  ~RemoteBuffer() {
    VirtualFreeEx(process, at, 0, MEM_RELEASE);
    CloseHandle(process);
  }
  RemoteBuffer(const RemoteBuffer&) = delete;
  RemoteBuffer& operator=(const RemoteBuffer&) = delete;
  void Write(size_t offset, const void* data, size_t size) const {
    if (!WriteProcessMemory(process, at + offset, data, size, nullptr)) throw Failure{"cannot write to the program"};
  }
  void Read(size_t offset, void* data, size_t size) const {
    if (!ReadProcessMemory(process, at + offset, data, size, nullptr)) throw Failure{"cannot read from the program"};
  }

  HANDLE process = nullptr;
  char* at = nullptr;
};

Action ParseTab(Args& a) {
  const Match title = a.TakeMatch("the tab's title");
  return [=](Driver& d, const Deadline& deadline) {
    const HWND in = Driver::Current(d.scope);
    HWND strip = nullptr;
    if (!Poll(deadline, [&] { return (strip = Child(in, [](HWND w) { return ClassOf(w) == WC_TABCONTROLW; })) != nullptr; })) {
      throw Failure{"no tab strip in " + Describe(in)};
    }
    constexpr size_t kTextAt = 256;
    constexpr int kTextChars = 256;
    RemoteBuffer buffer(strip, kTextAt + kTextChars * sizeof(wchar_t));
    const auto count = static_cast<int>(Ask(strip, TCM_GETITEMCOUNT, 0, 0, deadline));
    std::string seen;
    for (int i = 0; i < count; ++i) {
      TCITEMW item{};
      item.mask = TCIF_TEXT;
      item.pszText = reinterpret_cast<wchar_t*>(buffer.at + kTextAt);
      item.cchTextMax = kTextChars;
      buffer.Write(0, &item, sizeof item);
      const wchar_t none = 0;
      buffer.Write(kTextAt, &none, sizeof none);
      if (!Ask(strip, TCM_GETITEMW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(buffer.at), deadline)) continue;
      wchar_t text[kTextChars] = {};
      buffer.Read(kTextAt, text, sizeof text);
      text[kTextChars - 1] = 0;
      seen += " " + Shown(text);
      if (!title(text)) continue;
      if (!Ask(strip, TCM_GETITEMRECT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(buffer.at), deadline)) {
        throw Failure{"the tab has no place on the strip"};
      }
      RECT r{};
      buffer.Read(0, &r, sizeof r);
      RequireReachable(strip);
      const LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
      Deliver(strip, WM_LBUTTONDOWN, MK_LBUTTON, at);
      Deliver(strip, WM_LBUTTONUP, 0, at);
      Settle(strip, deadline);
      if (Ask(strip, TCM_GETCURSEL, 0, 0, deadline) != i) throw Failure{"the tab was not selected by the click"};
      return;
    }
    throw Failure{"no tab " + title.Describe() + "; the tabs are" + seen};
  };
}

// type ID TEXT, key by key; clear ID: everything selected, then Backspace.
Action ParseKeys(Args& a, bool clear) {
  const int id = a.Id();
  const std::wstring keys = clear ? std::wstring(1, L'\b') : Wide(a.Text("the text to type"));
  return [=](Driver& d, const Deadline& deadline) {
    const HWND c = EditOf(d.Control(id, deadline));
    RequireReachable(c);
    if (clear) Deliver(c, EM_SETSEL, 0, -1);
    for (wchar_t key : keys) Deliver(c, WM_CHAR, key, 1);
    Settle(c, deadline);
  };
}

Action ParseText(Args& a, bool wait) {
  const int id = a.Id();
  const Match want = a.TakeMatch("the text");
  return [=](Driver& d, const Deadline& deadline) {
    const HWND c = d.Control(id, deadline);
    std::optional<std::wstring> last;
    if (Holds(wait, deadline, [&] { return (last = TextOf(c, deadline)) && want(*last); })) return;
    throw Failure{"control " + std::to_string(id) + " shows " + (last ? Shown(*last) : "nothing (no answer)") +
                  ", expected " + want.Describe()};
  };
}

struct StateWord {
  const char* word;
  int kind;  // 0 enabled, 1 visible, 2 checked
  bool value;
};
constexpr StateWord kStates[] = {{"enabled", 0, true},  {"disabled", 0, false}, {"visible", 1, true},
                                 {"hidden", 1, false},  {"checked", 2, true},   {"unchecked", 2, false}};

Action ParseState(Args& a, bool wait) {
  const int id = a.Id();
  std::vector<StateWord> want;
  do {
    const std::string s = a.Text("a state");
    const auto* it = std::find_if(std::begin(kStates), std::end(kStates), [&](auto& k) { return s == k.word; });
    if (it == std::end(kStates)) throw SyntaxError{"\"" + s + "\" is not a state"};
    want.push_back(*it);
  } while (!a.Done());
  return [=](Driver& d, const Deadline& deadline) {
    const HWND c = d.Control(id, deadline);
    std::string wrong;
    const bool holds = Holds(wait, deadline, [&] {
      wrong.clear();
      for (const StateWord& s : want) {
        const bool is = s.kind == 0 ? IsWindowEnabled(c) != FALSE
                        : s.kind == 1 ? IsWindowVisible(c) != FALSE
                                      : IsChecked(c, deadline);
        if (is != s.value) wrong += std::string(wrong.empty() ? "" : ", ") + "not " + s.word;
      }
      return wrong.empty();
    });
    if (!holds) throw Failure{"control " + std::to_string(id) + " is " + wrong};
  };
}

// The first enabled dialog-class window with that title that holds the button: a user
// answers only the box in front, and the button tells a box from a file dialog.
HWND FindDialog(const Match& title, int button, const Deadline& deadline, const Accept& accept) {
  return FindTop(deadline, [&](HWND w) {
    return IsWindowEnabled(w) && ClassOf(w) == L"#32770" && title(TextOf(w, deadline).value_or(L"")) &&
           ChildById(w, button, WC_BUTTONW) && accept(w);
  });
}

Action ParseAnswer(Args& a) {
  const Match title = a.TakeMatch("the box's title");
  const std::string name = a.Text("the button");
  struct Named {
    const char* name;
    int id;
  };
  constexpr Named kButtons[] = {{"OK", IDOK},         {"Cancel", IDCANCEL}, {"Abort", IDABORT}, {"Retry", IDRETRY},
                                {"Ignore", IDIGNORE}, {"Yes", IDYES},       {"No", IDNO}};
  const auto* it = std::find_if(std::begin(kButtons), std::end(kButtons), [&](auto& b) { return name == b.name; });
  if (it == std::end(kButtons)) throw SyntaxError{"\"" + name + "\" is not a box button"};
  const int button = it->id;
  std::optional<Match> text;
  if (!a.Done()) text = a.TakeMatch("the box's text");
  return [=](Driver&, const Deadline& deadline) {
    const HWND box = FindDialog(title, button, deadline, [&](HWND w) { return !text || (*text)(BoxText(w, deadline)); });
    if (!box) {
      throw Failure{"no box " + title.Describe() + (text ? " with text " + text->Describe() : "") + " and a " + name +
                    " button\n" + ScreenReport()};
    }
    Press(ChildById(box, button, WC_BUTTONW), deadline);
    if (!Poll(deadline, [&] { return !IsWindow(box) || !IsWindowVisible(box); })) {
      throw Failure{"the box is still open after " + name + "\n" + ScreenReport()};
    }
  };
}

Action ParseFile(Args& a) {
  const Match title = a.TakeMatch("the dialog's title");
  if (!a.Keyword("ok")) throw SyntaxError{"expected ok PATH"};
  const std::wstring path = Wide(a.Text("the path"));
  return [=](Driver&, const Deadline& deadline) {
    // Newer dialogs keep the file name in a combo box (0x47C), older ones in an edit (0x480).
    int field = 0;
    const HWND dialog = FindDialog(title, IDOK, deadline, [&](HWND w) {
      for (int id : {0x47C, 0x480}) {
        if (ChildById(w, id)) return (field = id) != 0;
      }
      return false;
    });
    if (!dialog) throw Failure{"no file dialog " + title.Describe() + "\n" + ScreenReport()};
    Ask(EditOf(ChildById(dialog, field)), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()), deadline);
    Press(ChildById(dialog, IDOK, WC_BUTTONW), deadline);
    if (!Poll(deadline, [&] { return !IsWindow(dialog) || !IsWindowVisible(dialog) || !IsWindowEnabled(dialog); })) {
      throw Failure{"the file dialog is still open\n" + ScreenReport()};
    }
  };
}

// An all-one-colour capture means nothing has been drawn yet, so it is taken again until the
// deadline.
Action ParseScreenshot(Args& a) {
  const std::wstring file = Wide(a.Text("the file name"));
  return [=](Driver& d, const Deadline& deadline) {
    const HWND w = Driver::Current(d.scope);
    // Painting is the last thing a program does after input: the window is made to paint
    // everything now, so that the screen is not caught between two states.
    RedrawWindow(w, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Settle(w, deadline);
    std::vector<uint8_t> png;
    if (!Poll(deadline, [&] { return !(png = Screenshot(w)).empty(); })) {
      throw Failure{"the screen shows nothing but one colour where " + Describe(w) + " is"};
    }
    std::error_code ignored;
    const std::filesystem::path target(file);
    if (target.has_parent_path()) std::filesystem::create_directories(target.parent_path(), ignored);
    std::ofstream out(target, std::ios::binary);
    out.write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
    if (!out.flush()) throw Failure{"cannot write " + Narrow(file)};
  };
}

using Parser = std::function<Action(Args&)>;
const std::map<std::string, Parser> kCommands = {
    {"timeout", ParseTimeout},
    {"start", ParseStart},
    {"wait-exit", ParseWaitExit},
    {"window", ParseWindow},
    {"find", ParseFind},
    {"click", ParseClick},
    {"check", ParseCheck},
    {"tab", ParseTab},
    {"type", [](Args& a) { return ParseKeys(a, false); }},
    {"clear", [](Args& a) { return ParseKeys(a, true); }},
    {"text", [](Args& a) { return ParseText(a, false); }},
    {"wait-text", [](Args& a) { return ParseText(a, true); }},
    {"state", [](Args& a) { return ParseState(a, false); }},
    {"wait-state", [](Args& a) { return ParseState(a, true); }},
    {"answer", ParseAnswer},
    {"file", ParseFile},
    {"screenshot", ParseScreenshot}};

Action ParseCommand(Args& a, std::optional<double>& seconds) {
  const Word& command = a.Next("a command");
  if (command.quoted) throw SyntaxError{"a command cannot be quoted"};
  if (command.text == "within") {
    if (seconds) throw SyntaxError{"one within is enough"};
    seconds = a.Seconds();
    return ParseCommand(a, seconds);
  }
  const auto parser = kCommands.find(command.text);
  if (parser == kCommands.end()) throw SyntaxError{"unknown command \"" + command.text + "\""};
  Action action = parser->second(a);
  a.End();
  return action;
}

}  // namespace

int main(int argc, char** argv) {
  Driver driver;
  std::string scriptName = "-";
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-v") {
      driver.verbose = true;
    } else if (scriptName == "-" && (arg == "-" || arg[0] != '-')) {
      scriptName = arg;
    } else {
      std::fprintf(stderr, "usage: noxdrive [-v] [SCRIPT]\n");
      return 2;
    }
  }
  std::ifstream file;
  if (scriptName != "-") {
    file.open(scriptName);
    if (!file) {
      std::fprintf(stderr, "noxdrive: cannot read %s\n", scriptName.c_str());
      return 2;
    }
  }
  std::istream& in = scriptName == "-" ? std::cin : file;
  std::vector<Step> steps;
  int number = 0;
  bool syntaxOk = true;
  for (std::string line; std::getline(in, line);) {
    ++number;
    try {
      Args words(SplitWords(line));
      if (words.Done()) continue;
      Step step{number, line, std::nullopt, nullptr};
      step.action = ParseCommand(words, step.seconds);
      steps.push_back(std::move(step));
    } catch (const SyntaxError& e) {
      std::fprintf(stderr, "noxdrive: %s:%d: %s: %s\n", scriptName.c_str(), number, e.what.c_str(), line.c_str());
      syntaxOk = false;
    }
  }
  if (!syntaxOk) return 2;

  driver.job = CreateJobObjectW(nullptr, nullptr);
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (!driver.job || !SetInformationJobObject(driver.job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
    std::fprintf(stderr, "noxdrive: cannot make a job object for the programs it starts\n");
    return 1;
  }
  const ULONGLONG began = GetTickCount64();
  for (const Step& step : steps) {
    driver.line = step.line;
    if (driver.verbose) {
      // The time since the script began: scripts that measure a program read it from here.
      std::printf("noxdrive: %d: [%llu ms] %s\n", step.line,
                  static_cast<unsigned long long>(GetTickCount64() - began), step.source.c_str());
      std::fflush(stdout);
    }
    try {
      step.action(driver, Deadline(step.seconds.value_or(driver.seconds)));
    } catch (const Failure& f) {
      std::fflush(stdout);
      std::fprintf(stderr, "noxdrive: %s:%d: %s\n  %s\n", scriptName.c_str(), step.line, step.source.c_str(),
                   f.what.c_str());
      driver.EndProgram();
      return 1;
    }
  }
  if (driver.process) {
    std::fprintf(stderr, "noxdrive: %s: the program started on line %d is still running at the end of the script\n",
                 scriptName.c_str(), driver.startedOn);
    driver.EndProgram();
    return 1;
  }
  return 0;
}
