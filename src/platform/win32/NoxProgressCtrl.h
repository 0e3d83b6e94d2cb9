// The segmented progress bar as a window: busy indicator, classic progress bar or a row of
// coloured cells. All state is a ui::ProgressControlModel; the window owns one of its own unless
// another model is attached (the flash map attaches its bars, so the map and its windows
// always show the same thing).
#pragma once

#include <windows.h>

#include "ui/ProgressControlModel.h"

namespace nox::win32 {

inline constexpr char kProgressCtrlClass[] = "CNoxProgressCtrl";
inline constexpr char kProgressCtrlText[] = "BusyProgressCtrl";

// The control's messages; wParam carries the value (0x405: wParam minimum, lParam maximum).
enum ProgressCtrlMessage : UINT {
  kPcmSetSegmentCount = WM_USER + 1,
  kPcmSetPosition = WM_USER + 2,
  kPcmSetGap = WM_USER + 3,
  kPcmSetInterval = WM_USER + 4,
  kPcmSetRange = WM_USER + 5,
  kPcmSetMode = WM_USER + 6,
  kPcmStartBusy = WM_USER + 7,
  kPcmStopBusy = WM_USER + 8,
  kPcmBusyStep = WM_USER + 9,
};

class CNoxProgressCtrl {
 public:
  // Registers the window class once per process; false when Windows refuses it.
  static bool Register();

  // A visible child at rect with the given id. model: the state to draw, owned by the caller
  // and outliving the window; nullptr gives the window a model of its own (10 segments).
  static HWND Create(HWND parent, int id, const RECT& rect, ui::ProgressControlModel* model = nullptr);

  // Draws another model from now on (nullptr: the window's own again). The model takes the
  // window's size and background; the caller keeps it alive while attached.
  static void AttachModel(HWND control, ui::ProgressControlModel* model);
  // The model the window draws; nullptr when control is not one of these windows.
  static ui::ProgressControlModel* ModelOf(HWND control);

  // Repaints at once when the model's picture differs from what the window drew last, for
  // models changed behind the window's back (the map's bars). True when it repainted.
  static bool RepaintIfChanged(HWND control);

  // Whether the busy animation's thread is running.
  static bool Animating(HWND control);
};

}  // namespace nox::win32
