#pragma once

#include <QtGlobal>

namespace ludex {

// The frame of every dialog of the program: a title and a close button. Window managers otherwise
// offer minimise and maximise on dialogs too, and a minimised modal dialog leaves the main window
// blocked with nothing to show why.
inline constexpr Qt::WindowFlags kDialogFrame =
    Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint;

} // namespace ludex
