// The user's command line of word options (/factory, /rom=3, /p=..., ...) and what it leaves
// behind for the rest of the run.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace nox::config {

struct WordOptionFlags {
  bool forceit = false;
  bool forcetype = false;
  bool nopause = false;
  bool noreboot = false;
  bool wipeall = false;
  bool wipeclean = false;
  bool writehdrfile = false;
  bool writeromfile = false;
  bool lr = false;          // the word "lr" (apart from the start-up lr flag)
  bool romGiven = false;    // "rom=": a fixed ROM number, no automatic choice
  uint32_t romNumber = 0;
  bool passwordGiven = false;  // "p="
  std::string password;        // at most 127 characters, lower-cased with the whole line
};

}  // namespace nox::config
