// The words of noxdrive's scripts: quoting, text matches, and the typed arguments of a command.
#pragma once

#include <string>
#include <vector>

namespace noxdrive {

// A command that did not hold, and a line that cannot be a command.
struct Failure {
  std::string what;
};
struct SyntaxError {
  std::string what;
};

std::wstring Wide(const std::string& s);
std::string Narrow(const std::wstring& s);
// A text as it appears in a message: quoted, with line breaks visible.
std::string Shown(const std::wstring& s);

// like: * matches any run of characters, ? any one character.
struct Match {
  enum Mode { kIs, kHas, kLike } mode = kIs;
  std::wstring text;

  bool operator()(const std::wstring& s) const;
  std::string Describe() const;
};

struct Word {
  std::string text;
  bool quoted = false;
};

std::vector<Word> SplitWords(const std::string& line);

// The words of one command, taken from the front; each taker throws SyntaxError.
class Args {
 public:
  explicit Args(std::vector<Word> words) : words_(std::move(words)) {}
  bool Done() const { return at_ >= words_.size(); }
  const Word& Next(const char* what);
  // Takes the next word when it is this keyword; a quoted word is never a keyword.
  bool Keyword(const char* keyword);
  std::string Text(const char* what) { return Next(what).text; }
  int Id();
  long long Number(const char* what);
  double Seconds();
  Match TakeMatch(const char* what);
  void End() const;

 private:
  std::vector<Word> words_;
  size_t at_ = 0;
};

}  // namespace noxdrive
