#include "DriveScript.h"

#include <windows.h>

namespace noxdrive {

std::wstring Wide(const std::string& s) {
  if (s.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), out.data(), n);
  return out;
}

std::string Narrow(const std::wstring& s) {
  if (s.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), out.data(), n, nullptr, nullptr);
  return out;
}

std::string Shown(const std::wstring& s) {
  std::string out = "\"";
  for (char c : Narrow(s)) {
    if (c == '\n') {
      out += "\\n";
    } else if (c != '\r') {
      out += c;
    }
  }
  return out + "\"";
}

namespace {

// Patterns and window texts are short, so plain backtracking will do.
bool Wildcard(const wchar_t* pattern, const wchar_t* text) {
  if (*pattern == L'*') return Wildcard(pattern + 1, text) || (*text && Wildcard(pattern, text + 1));
  if (!*text) return !*pattern;
  return (*pattern == L'?' || *pattern == *text) && Wildcard(pattern + 1, text + 1);
}

}  // namespace

bool Match::operator()(const std::wstring& s) const {
  if (mode == kHas) return s.find(text) != std::wstring::npos;
  if (mode == kLike) return Wildcard(text.c_str(), s.c_str());
  return s == text;
}

std::string Match::Describe() const {
  return (mode == kHas ? "has " : mode == kLike ? "like " : "is ") + Shown(text);
}

// Inside quotes only \" \\ \n \t are escapes, so that Windows paths keep their backslashes.
std::vector<Word> SplitWords(const std::string& line) {
  std::vector<Word> words;
  size_t i = 0;
  const auto blank = [&](size_t at) { return line[at] == ' ' || line[at] == '\t' || line[at] == '\r'; };
  while (i < line.size()) {
    if (blank(i)) {
      ++i;
      continue;
    }
    Word w;
    if (line[i] == '"') {
      w.quoted = true;
      for (++i;; ++i) {
        if (i >= line.size()) throw SyntaxError{"a quoted text is not closed"};
        if (line[i] == '"') break;
        const char next = i + 1 < line.size() ? line[i + 1] : '\0';
        if (line[i] == '\\' && (next == '"' || next == '\\' || next == 'n' || next == 't')) {
          ++i;
          w.text += next == 'n' ? '\n' : next == 't' ? '\t' : next;
        } else {
          w.text += line[i];
        }
      }
      ++i;
    } else {
      if (line[i] == '#') break;
      while (i < line.size() && !blank(i)) w.text += line[i++];
    }
    words.push_back(std::move(w));
  }
  return words;
}

const Word& Args::Next(const char* what) {
  if (Done()) throw SyntaxError{std::string("missing ") + what};
  return words_[at_++];
}

bool Args::Keyword(const char* keyword) {
  if (Done() || words_[at_].quoted || words_[at_].text != keyword) return false;
  ++at_;
  return true;
}

long long Args::Number(const char* what) {
  const std::string s = Text(what);
  size_t used = 0;
  long long v = 0;
  try {
    v = std::stoll(s, &used);
  } catch (const std::exception&) {
  }
  if (used == 0 || used != s.size() || s[0] == '+') throw SyntaxError{"\"" + s + "\" is not " + what};
  return v;
}

int Args::Id() {
  const long long v = Number("a control id");
  if (v < -1 || v > 0xFFFFFFFFLL) throw SyntaxError{std::to_string(v) + " is not a control id"};
  return static_cast<int>(v);
}

double Args::Seconds() {
  const std::string s = Text("a number of seconds");
  try {
    size_t used = 0;
    const double v = std::stod(s, &used);
    if (used == s.size() && v > 0 && v < 86400) return v;
  } catch (const std::exception&) {
  }
  throw SyntaxError{"\"" + s + "\" is not a number of seconds"};
}

Match Args::TakeMatch(const char* what) {
  Match m;
  if (Keyword("has")) {
    m.mode = Match::kHas;
  } else if (Keyword("like")) {
    m.mode = Match::kLike;
  } else {
    Keyword("is");
  }
  m.text = Wide(Text(what));
  return m;
}

void Args::End() const {
  if (!Done()) throw SyntaxError{"unexpected \"" + words_[at_].text + "\""};
}

}  // namespace noxdrive
