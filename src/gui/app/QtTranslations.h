#pragma once

#include "core/settings/LX_Localer.h"

namespace ludex {

// Qt's own texts (standard buttons, file and font dialogs, the context menus of edit fields) in
// the interface language: the translation of that language from Qt's translation folder
// replaces the one installed before; English needs none. A language whose translation is not
// installed leaves Qt's texts in English. Returns whether a translation is in use.
bool InstallQtTranslations(TLanguage language);

} // namespace ludex
