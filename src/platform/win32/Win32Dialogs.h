// The two small modal dialogs: the password prompt and the unsupported-system notice. Their
// templates carry window classes of their own, so that they can be told apart from message
// boxes and found by class.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "ui/Ui.h"

namespace nox::win32 {

inline constexpr const char* kMainWindowClass = "CNOXWINGUIDlg";
inline constexpr const char* kPasswordClass = "CPasswordDlg";
inline constexpr const char* kKorvInfoClass = "CKorvInfo";

// Registers the dialog window classes the templates name; once per process.
void RegisterDialogClasses(HINSTANCE instance);

// The prompt is the window title; the text as typed when OK was pressed, none on Cancel.
std::optional<std::string> RunPasswordDialog(HWND owner, const std::string& prompt);
void RunKorvInfoDialog(HWND owner, const ui::KorvInfo& info);

}  // namespace nox::win32
