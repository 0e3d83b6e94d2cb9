// The Progress page of the property sheet: the flash map as one CNoxProgressCtrl per bar, the
// legend, the stage and address texts, the message lines and the EC bar. Everything it shows
// lives in the page model; the view only writes what changed and repaints.
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/win32/ButtonCol.h"
#include "ui/ProgressPageModel.h"

namespace nox::win32 {

class ProgressPageView {
 public:
  // facts and ecImageSize build the map when the page is first initialised; the model outlives
  // the view.
  ProgressPageView(ui::ProgressPageModel& model, ui::FlashFacts facts, uint32_t ecImageSize);
  ProgressPageView(const ProgressPageView&) = delete;
  ProgressPageView& operator=(const ProgressPageView&) = delete;

  // The page's dialog procedure for the property sheet: lParam of WM_INITDIALOG is the
  // PROPSHEETPAGE whose lParam is the view.
  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

  // nullptr until the page exists and after it is gone.
  HWND Handle() const { return hwnd_; }
  // The bar windows of the map, top to bottom.
  const std::vector<HWND>& Bars() const { return bars_; }

  // The model changed: writes the texts that differ (the stage also when effect.stageChanged),
  // the EC bar and the bars whose picture changed, and repaints them at once.
  void Refresh(const ui::CallbackEffect& effect);
  // The two lines under the stage; kept for a page made later.
  void SetMessageLines(const std::string& first, const std::string& second);

 private:
  // A control's text as last written; unset until the page first writes it.
  struct Shown {
    std::string text;
    bool valid = false;
  };

  void Init(HWND hwnd);
  void BuildMap();
  // Writes text to control id unless it already shows it.
  void WriteText(int id, const std::string& text, Shown& shown, bool force = false);

  ui::ProgressPageModel& model_;
  ui::FlashFacts facts_;
  uint32_t ecImageSize_;
  HWND hwnd_ = nullptr;
  std::vector<HWND> bars_;
  std::array<CButtonCol, 4> legend_;
  std::string lines_[2];
  // What the controls show, so that unchanged texts are not written again (each write repaints
  // the control, which flickers at the rate of the progress reports).
  Shown stage_, valueLabel_, value_, shownLines_[2];
  int ecMaximum_ = -1;
  int ecPosition_ = -1;
};

}  // namespace nox::win32
