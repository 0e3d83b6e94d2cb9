#include "policy/Wipe.h"

namespace nox::policy {

void WipeBytes(std::span<uint8_t> bytes) {
  volatile uint8_t* p = bytes.data();
  for (size_t i = 0; i < bytes.size(); ++i) p[i] = 0;
}

void WipeString(std::string& text) {
  // Growing to the capacity never reallocates, so this reaches every byte the string owns.
  text.resize(text.capacity());
  volatile char* p = text.data();
  for (size_t i = 0; i < text.size(); ++i) p[i] = 0;
  text.clear();
}

void WipeString(std::optional<std::string>& text) {
  if (text) WipeString(*text);
  text.reset();
}

}  // namespace nox::policy
