#include "platform/win32/Win32ProgressPage.h"

#include <commctrl.h>

#include <algorithm>

#include "platform/win32/NoxProgressCtrl.h"
#include "platform/win32/res/resource.h"
#include "ui/FlashMapModel.h"

namespace nox::win32 {

namespace {

constexpr int kBarId = 0xFFFF;
constexpr int kLegendIds[] = {IDC_LEGEND_READ, IDC_LEGEND_ERASE, IDC_LEGEND_PROGRAM, IDC_LEGEND_VERIFY};

}  // namespace

ProgressPageView::ProgressPageView(ui::ProgressPageModel& model, ui::FlashFacts facts, uint32_t ecImageSize)
    : model_(model), facts_(facts), ecImageSize_(ecImageSize) {}

INT_PTR CALLBACK ProgressPageView::DialogProc(HWND hwnd, UINT message, WPARAM, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    const auto* sheetPage = reinterpret_cast<const PROPSHEETPAGEA*>(lParam);
    auto* view = sheetPage ? reinterpret_cast<ProgressPageView*>(sheetPage->lParam) : nullptr;
    SetWindowLongPtrA(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(view));
    if (view) view->Init(hwnd);
    return TRUE;
  }
  auto* view = reinterpret_cast<ProgressPageView*>(GetWindowLongPtrA(hwnd, DWLP_USER));
  if (!view) return FALSE;
  switch (message) {
    case WM_DRAWITEM: {
      const auto& item = *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      for (const CButtonCol& square : view->legend_) {
        if (square.DrawItem(item)) return TRUE;
      }
      return FALSE;
    }
    case WM_DESTROY:
      // The bars go with the page; the map's models stay for a page made again.
      view->hwnd_ = nullptr;
      view->bars_.clear();
      return FALSE;
    default:
      return FALSE;
  }
}

void ProgressPageView::Init(HWND hwnd) {
  hwnd_ = hwnd;
  for (size_t i = 0; i < legend_.size(); ++i) legend_[i].Attach(GetDlgItem(hwnd_, kLegendIds[i]));
  stage_ = valueLabel_ = value_ = shownLines_[0] = shownLines_[1] = Shown{};
  ecMaximum_ = ecPosition_ = -1;
  BuildMap();
  Refresh({true, false});
}

void ProgressPageView::BuildMap() {
  // Refused while the flash size is unknown, and a no-op once the model holds a map; the
  // windows are made for whichever map the model has.
  model_.Build(facts_, ecImageSize_);
  const ui::FlashMapModel& map = model_.Map();
  if (!map.Built() || !bars_.empty()) return;

  const HWND frame = GetDlgItem(hwnd_, IDC_MAP_FRAME);
  RECT box{};
  GetWindowRect(frame, &box);
  MapWindowPoints(nullptr, hwnd_, reinterpret_cast<POINT*>(&box), 2);
  const std::vector<ui::Rect> rects =
      ui::BarRects({box.left, box.top, box.right, box.bottom}, map.Geometry().barCount);
  // The windows set their layout and background on the bars' models; the map reads neither,
  // so drawing through them leaves its marks as they are.
  auto& bars = const_cast<std::vector<ui::ProgressControlModel>&>(map.Bars());
  const size_t count = std::min(rects.size(), bars.size());
  for (size_t i = 0; i < count; ++i) {
    const RECT rc{rects[i].left, rects[i].top, rects[i].right, rects[i].bottom};
    if (HWND bar = CNoxProgressCtrl::Create(hwnd_, kBarId, rc, &bars[i])) bars_.push_back(bar);
  }
  SetWindowTextA(frame, map.Geometry().caption.c_str());
  const auto& legend = ui::Legend();
  for (size_t i = 0; i < legend_.size() && i < legend.size(); ++i) {
    legend_[i].SetFillColour(ui::StateColour(legend[i].state));
  }
  SendDlgItemMessageA(hwnd_, IDC_EC_BAR, PBM_SETSTEP, static_cast<WPARAM>(model_.EcBarStep()), 0);
}

void ProgressPageView::WriteText(int id, const std::string& text, Shown& shown, bool force) {
  if (!force && shown.valid && shown.text == text) return;
  const HWND control = GetDlgItem(hwnd_, id);
  SetWindowTextA(control, text.c_str());
  shown = {text, true};
  UpdateWindow(control);
}

void ProgressPageView::Refresh(const ui::CallbackEffect& effect) {
  if (!hwnd_) return;
  WriteText(IDC_STAGE, model_.StageText(), stage_, effect.stageChanged);
  WriteText(IDC_VALUE_LABEL, model_.ValueLabel(), valueLabel_);
  WriteText(IDC_VALUE, model_.ValueText(), value_);
  WriteText(IDC_MESSAGE1, lines_[0], shownLines_[0]);
  WriteText(IDC_MESSAGE2, lines_[1], shownLines_[1]);

  const HWND ecBar = GetDlgItem(hwnd_, IDC_EC_BAR);
  if (model_.EcBarMaximum() != ecMaximum_) {
    ecMaximum_ = model_.EcBarMaximum();
    SendMessageA(ecBar, PBM_SETRANGE32, 0, ecMaximum_);
    ecPosition_ = -1;
  }
  if (model_.EcBarPosition() != ecPosition_) {
    ecPosition_ = model_.EcBarPosition();
    SendMessageA(ecBar, PBM_SETPOS, static_cast<WPARAM>(ecPosition_), 0);
    UpdateWindow(ecBar);
  }

  for (HWND bar : bars_) CNoxProgressCtrl::RepaintIfChanged(bar);
  UpdateWindow(hwnd_);
}

void ProgressPageView::SetMessageLines(const std::string& first, const std::string& second) {
  lines_[0] = first;
  lines_[1] = second;
  Refresh({});
}

}  // namespace nox::win32
