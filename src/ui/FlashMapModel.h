// The flash map: a column of segmented bars, each an equal slice of the flash part, filled in
// with the colour of the operation as the engine reports each block. Portable so that both the
// Windows page and the terminal view draw the same map.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ui/ProgressControlModel.h"

namespace nox::ui {

// Operations reported by the engine, numbered as the map states.
enum class MapState : int { kRead = 1, kErase = 2, kProgram = 3, kVerify = 4 };

struct Rgb {
  uint8_t red;
  uint8_t green;
  uint8_t blue;
};

inline constexpr ColorRef ToColorRef(Rgb c) {
  return static_cast<ColorRef>(c.red) | static_cast<ColorRef>(c.green) << 8 | static_cast<ColorRef>(c.blue) << 16;
}

// Legend and map colour of an operation.
Rgb StateRgb(MapState state);
inline ColorRef StateColour(MapState state) { return ToColorRef(StateRgb(state)); }
// The legend's labels, top to bottom, and the state each one shows.
struct LegendEntry {
  const char* label;
  MapState state;
};
const std::vector<LegendEntry>& Legend();

// Cell size and caption chosen from the size of what the map shows.
struct MapGeometry {
  uint32_t cellSize = 0;  // flash bytes per bar
  uint32_t barCount = 0;
  std::string caption;
};
MapGeometry ChooseMapGeometry(uint32_t mapSize, bool hasMeRegion);

// The address the top of the flash part appears at below 4 GiB, for a view of the given size.
uint32_t TopOfMemoryBase(uint32_t viewSize);
// "%08Xh".
std::string AddressText(uint32_t address);

// Integer rectangle in the page's client coordinates.
struct Rect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
};
// Where the bars go inside the map's group box, top to bottom.
std::vector<Rect> BarRects(Rect groupBox, uint32_t barCount);

// What the flash part looks like to the map.
struct FlashFacts {
  uint32_t biosFlashSize = 0;  // 0: not known yet
  bool hasMeRegion = false;
  uint32_t wholeFlashSize = 0;  // meaningful with an ME region
};

class FlashMapModel {
 public:
  // Builds the map once; refuses while the flash size is unknown or when it already exists.
  bool Build(const FlashFacts& facts);
  bool Built() const { return built_; }

  // While the ME region itself is being written, the map shows the whole part unshifted.
  void SetMeUpdateInProgress(bool running) { meUpdateInProgress_ = running; }

  // One progress report (address or marker, second value, length); returns the address to show.
  uint32_t Update(uint32_t address, uint32_t value, uint32_t length, MapState state);

  // Clears every bar; a colour other than 0xFFFFFFFF also becomes the fill of unmarked segments.
  void Reset(ColorRef colour);

  const MapGeometry& Geometry() const { return geometry_; }
  const std::vector<ProgressControlModel>& Bars() const { return bars_; }
  uint32_t MapBase() const { return mapBase_; }
  ColorRef CurrentColour() const { return currentColour_; }

 private:
  uint32_t ViewSize() const;
  void MarkFrom(uint64_t offset, uint32_t segments);

  FlashFacts facts_;
  bool built_ = false;
  bool meUpdateInProgress_ = false;
  MapGeometry geometry_;
  std::vector<ProgressControlModel> bars_;
  uint32_t mapBase_ = 0;
  ColorRef currentColour_ = kGrey;
};

}  // namespace nox::ui
