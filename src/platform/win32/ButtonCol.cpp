#include "platform/win32/ButtonCol.h"

#include <string>

namespace nox::win32 {

void CButtonCol::Attach(HWND button) {
  button_ = button;
  if (!button_) return;
  const LONG_PTR style = GetWindowLongPtrA(button_, GWL_STYLE);
  SetWindowLongPtrA(button_, GWL_STYLE, (style & ~static_cast<LONG_PTR>(BS_TYPEMASK)) | BS_OWNERDRAW);
  InvalidateRect(button_, nullptr, TRUE);
}

void CButtonCol::SetFillColour(COLORREF colour) {
  fill_ = colour;
  if (button_) InvalidateRect(button_, nullptr, FALSE);
}

bool CButtonCol::DrawItem(const DRAWITEMSTRUCT& item) const {
  if (!button_ || item.hwndItem != button_ || item.CtlType != ODT_BUTTON) return false;
  RECT rc = item.rcItem;
  SetDCBrushColor(item.hDC, fill_);
  FillRect(item.hDC, &rc, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
  const int length = GetWindowTextLengthA(button_);
  if (length > 0) {
    std::string text(static_cast<size_t>(length) + 1, '\0');
    const int got = GetWindowTextA(button_, text.data(), length + 1);
    const int oldMode = SetBkMode(item.hDC, TRANSPARENT);
    const COLORREF oldColour = SetTextColor(item.hDC, text_);
    DrawTextA(item.hDC, text.c_str(), got, &rc, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    SetTextColor(item.hDC, oldColour);
    SetBkMode(item.hDC, oldMode);
  }
  return true;
}

}  // namespace nox::win32
