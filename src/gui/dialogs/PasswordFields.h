#pragma once

#include "core/crypto/Secret.h"

#include <QString>

#include <string>

class QBoxLayout;
class QDialog;
class QLineEdit;
class QPushButton;
class QWidget;

namespace ludex {

// Parts the two password dialogs share.

// A password field with the given object name that shows '*' for every character typed.
QLineEdit* NewPasswordEdit(QWidget* parent, const char* name);

// Takes the typed password out of the field: the field is emptied and the text's buffers, the
// field's own among them, are wiped, so that the password lives on only in the returned secret.
TSecret TakePassword(QLineEdit& edit);

// Empties the field and wipes the buffer of the text it held.
void ClearPasswordField(QLineEdit& edit);

// The dialog's OK (default: Enter accepts) and Cancel (Escape rejects) buttons, named Button_OK
// and Button_Cancel, connected to accept and reject and added right-aligned at the end of `layout`.
void AddOkCancelButtons(QDialog& dialog, QBoxLayout& layout, QPushButton*& ok, QPushButton*& cancel);

// A branch title as the dialogs show it, in their captions too: whole up to kLongestShownTitle
// characters, else its beginning and its end around "…", so that a dialog never grows wider than
// a sensible width for a long title. Line breaks show as blanks.
inline constexpr int kLongestShownTitle = 60;
QString ShownBranchTitle(const std::string& title);

// Makes the dialog at least as wide as its window title needs, with room for the frame's buttons,
// within the screen's width.
void FitWidthToCaption(QDialog& dialog);

} // namespace ludex
