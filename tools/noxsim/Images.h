// The images noxsim makes for a machine: ROM images (also capsules and ME images) and EC
// firmware images.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace noxsim {

struct RomArgs {
  std::string output;
  std::string version;
  std::string systemId;
  std::string extId;
  std::string ecVersion;
  std::vector<std::string> names;
  unsigned holes = 2;
  uint64_t seed = 1;
  bool capsule = false;
  bool capsuleInside = false;
  bool unsignedImage = false;
  bool damaged = false;
  bool markerOnly = false;
  bool meFull = false;
  bool meRegion = false;
  bool noFid = false;
};

int Rom(const std::string& dir, const RomArgs& args);
// An EC firmware image for the machine's EC flash: its size unless `sizeText` gives one.
int Ec(const std::string& dir, const std::string& output, const std::string& sizeText, uint64_t seed);

}  // namespace noxsim
