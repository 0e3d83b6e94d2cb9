// The Information and Setup pages of the main window's property sheet: each renders its
// portable model and forwards what the user does to it.
#pragma once

#include <windows.h>

#include "ui/InformationPageModel.h"
#include "ui/SetupPageModel.h"

namespace nox::win32 {

class InformationPageView {
 public:
  explicit InformationPageView(ui::InformationPageModel& model) : model_(model) {}
  static INT_PTR CALLBACK DialogProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
  HWND Handle() const { return page_; }
  // Writes every value field from the model.
  void Refresh();

 private:
  void OnInit(HWND page);

  ui::InformationPageModel& model_;
  HWND page_ = nullptr;
};

class SetupPageView {
 public:
  explicit SetupPageView(ui::SetupPageModel& model) : model_(model) {}
  static INT_PTR CALLBACK DialogProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
  HWND Handle() const { return page_; }
  // Shows, enables and checks every control as the model says.
  void Refresh();

 private:
  void OnInit(HWND page);
  void OnClicked(int id);
  void OnEditChanged();

  ui::SetupPageModel& model_;
  HWND page_ = nullptr;
  // Text the view writes into the edit itself must not run through the filter again.
  bool writingEdit_ = false;
};

// The pages' tool-tip control: always shown, long pop delay, no initial delay.
HWND CreateToolTips(HWND page, bool alwaysTip, int maxWidth);

}  // namespace nox::win32
