#pragma once

class QBoxLayout;
class QDialog;
class QLineEdit;
class QPushButton;
class QWidget;

namespace ludex {

// Parts the two password dialogs share.

// A password field with the given object name that shows '*' for every character typed.
QLineEdit* NewPasswordEdit(QWidget* parent, const char* name);

// The dialog's OK (default: Enter accepts) and Cancel (Escape rejects) buttons, named Button_OK
// and Button_Cancel, connected to accept and reject and added right-aligned at the end of `layout`.
void AddOkCancelButtons(QDialog& dialog, QBoxLayout& layout, QPushButton*& ok, QPushButton*& cancel);

} // namespace ludex
