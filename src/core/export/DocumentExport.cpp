#include "core/export/DocumentExport.h"

#include "core/document/XMLNodeAccess.h"

namespace ludex {

void ExportBranches(const TDomNode& top, TBranchSink& sink, const TLockedBranchOpener& open) {
    TBranchWalk walk(top, TBranchOrder::File);
    for (bool more = true; more;) {
        const TBranch& branch = walk.Current();
        if (branch.locked && !(open && open(branch))) {
            sink.AddLockedBranch(walk.Depth(), branch.title);
            more = walk.Skip();
            continue;
        }
        // An opened branch is read now, and the walk enters its deciphered sub-branches.
        sink.AddBranch(walk.Depth(), branch.title, MemoAccess.Read(branch.element));
        more = walk.Next();
    }
}

std::string ExportText(const TDomNode& top, TExportFormat format, std::string_view pageTitle,
                       const TLockedBranchOpener& open) {
    const auto exporter = MakeExporter(format, pageTitle);
    ExportBranches(top, *exporter, open);
    return exporter->Finish();
}

bool ExportRevealsEncryptedText(const TDomNode& top) {
    for (TDomNode node = top.Parent(); node && node.IsElement(); node = node.Parent()) {
        if (IsBranchEncrypted(node)) {
            return true; // an ancestor that is encrypted holds `top` in plain text only when unlocked
        }
    }
    TBranchWalk walk(top, TBranchOrder::File);
    for (bool more = true; more;) {
        const TBranch& branch = walk.Current();
        if (branch.encrypted && !branch.locked) {
            return true;
        }
        more = branch.locked ? walk.Skip() : walk.Next();
    }
    return false;
}

} // namespace ludex
