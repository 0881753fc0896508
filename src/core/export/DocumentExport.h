#pragma once

#include "core/document/BranchWalk.h"
#include "core/document/DomService.h"
#include "core/export/ExportFormats.h"

#include <functional>
#include <string>
#include <string_view>

namespace ludex {

// Offered each locked branch an export reaches: it may unlock the branch's element (decipher it
// in place) and return true, so that the branch is exported with its content; false exports the
// branch as locked.
using TLockedBranchOpener = std::function<bool(const TBranch& branch)>;

// Hands `top` and every branch below it to the sink in pre-order, siblings in file order, `top`
// at depth 0. A locked branch that `open` does not open (or every locked branch, without `open`)
// goes in as its title alone, and its enciphered content is never read. The walk does not
// recurse, so any depth is exported.
void ExportBranches(const TDomNode& top, TBranchSink& sink, const TLockedBranchOpener& open = {});

// The bytes of an exported file in the format: ExportBranches into the format's exporter.
// `pageTitle` titles an HTML page.
std::string ExportText(const TDomNode& top, TExportFormat format, std::string_view pageTitle,
                       const TLockedBranchOpener& open = {});

// Whether an export of `top` without unlocking anything would hold plain text of an encrypted
// branch: `top` lies in an unlocked encrypted branch (it or one of its ancestors), or an
// unlocked encrypted branch lies below it outside any locked one.
bool ExportRevealsEncryptedText(const TDomNode& top);

} // namespace ludex
