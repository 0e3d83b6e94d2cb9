// The Progress page's state: the flash map, the stage and address texts and the EC bar. The
// engine's progress callbacks land here; the view repaints after each one and, when told to,
// lets pending window messages through because the work runs on the window's own thread.
#pragma once

#include <cstdint>
#include <string>

#include "ui/FlashMapModel.h"

namespace nox::ui {

// What a callback asks of the view besides repainting.
struct CallbackEffect {
  bool stageChanged = false;  // write the stage text; left alone otherwise, to avoid flicker
  bool pumpMessages = false;
};

class ProgressPageModel {
 public:
  // Builds the map once the flash size is known; the EC bar's range follows the EC image size.
  bool Build(const FlashFacts& facts, uint32_t ecImageSize);

  FlashMapModel& Map() { return map_; }
  const FlashMapModel& Map() const { return map_; }

  // The region the flash sequence is working on: "BB.", "Main Bios.", "NVRAM.", "NCB.", "EC.".
  void SetRegionLabel(std::string label) { region_ = std::move(label); }

  CallbackEffect OnReading(uint32_t address, uint32_t value, uint32_t length);
  CallbackEffect OnErasing(uint32_t address, uint32_t value, uint32_t length);
  CallbackEffect OnProgramming(uint32_t address, uint32_t value, uint32_t length);
  CallbackEffect OnVerifying(uint32_t address, uint32_t value, uint32_t length);
  // EC update of done of total blocks.
  CallbackEffect OnEcProgress(uint16_t done, uint16_t total);

  void ResetMap(ColorRef colour) { map_.Reset(colour); }
  // Writes the stage field directly (the flash run's "Done." and failure texts); true when
  // the text changed.
  bool SetStageText(std::string text) { return SetStage(std::move(text)); }

  const std::string& StageText() const { return stage_; }
  const std::string& ValueLabel() const;
  // Made when asked for, by the view drawing a frame: a flash reports thousands of requests
  // a second, and only the frames show them.
  std::string ValueText() const;
  // The address the value field shows, as a number; 0 before the first report.
  uint32_t ShownAddress() const { return address_; }
  // The last report was a pass's start or end marker rather than a request.
  bool AtMarker() const { return atMarker_; }
  int EcBarMaximum() const { return ecMaximum_; }
  int EcBarStep() const { return ecStep_; }
  int EcBarPosition() const { return ecPosition_; }

 private:
  CallbackEffect Report(MapState state, const char* prefix, uint32_t address, uint32_t value, uint32_t length);
  bool SetStage(std::string text);
  // The verb and the region label, compared in place: the stage rarely changes.
  bool SetVerb(const char* verb);

  // What the value field shows: nothing reported yet, an address or the EC percentage.
  enum class Value : uint8_t { kNone, kAddress, kPercent };

  FlashMapModel map_;
  std::string region_;
  std::string stage_ = "None";
  Value value_ = Value::kNone;
  int percent_ = 0;
  uint32_t address_ = 0;
  bool atMarker_ = false;
  int ecMaximum_ = 0;
  int ecStep_ = 32;
  int ecPosition_ = 0;
};

// done × 100 / total, whole percent; no total counts as nothing done, and more than the total
// as all of it.
int EcPercent(uint16_t done, uint16_t total);

}  // namespace nox::ui
