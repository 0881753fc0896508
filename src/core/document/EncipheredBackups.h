#pragma once

#include "core/document/DomService.h"

#include <cstddef>
#include <string>

namespace ludex {

// Backups of a document once a branch's plain text exists only enciphered. A branch put under a
// password marks its document (TDomDocument::PlainTextEnciphered); the file it was saved in before,
// and so every backup of it, may still hold that branch in plain. The save that writes the branch
// enciphered is the moment those copies become the only plain ones, so the program that made
// them removes them then. Taking a password off keeps backups as they are.

// To be called after a successful save of `document` to `path`. When the document is marked,
// removes every backup of the saved file ("<file>.bak1" to ".bak99" beside the file the name
// leads to, whatever count of backups is kept now) and clears the mark; otherwise does nothing.
// Returns how many were removed, so that the caller can say so once. Throws EInOutError naming a
// backup that cannot be removed; the mark then stays, so that the next save tries again.
size_t RemoveBackupsOfPlainText(TDomDocument& document, const std::string& path);

} // namespace ludex
