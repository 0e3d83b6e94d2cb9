// A button that paints itself as a plain coloured square with its text centred: the legend of
// the flash map. The page forwards its WM_DRAWITEM for the button here.
#pragma once

#include <windows.h>

namespace nox::win32 {

class CButtonCol {
 public:
  // Takes the button over and makes it owner-drawn; the colours start as the system's
  // button face and button text.
  void Attach(HWND button);
  HWND Handle() const { return button_; }

  // The fill from now on; the button repaints.
  void SetFillColour(COLORREF colour);
  COLORREF FillColour() const { return fill_; }

  // The owner-draw routine; false when the item is not this button's.
  bool DrawItem(const DRAWITEMSTRUCT& item) const;

 private:
  HWND button_ = nullptr;
  COLORREF fill_ = GetSysColor(COLOR_BTNFACE);
  COLORREF text_ = GetSysColor(COLOR_BTNTEXT);
};

}  // namespace nox::win32
