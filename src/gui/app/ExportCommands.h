#pragma once

#include "core/document/DomService.h"
#include "core/export/ExportFormats.h"

#include <QObject>
#include <QString>

#include <memory>

class QPrinter;
class QTextDocument;

namespace ludex {

class TForm_Ludex;

// The File menu's export and print commands. Export writes the selected branch with its
// sub-branches, or the whole document, as plain text, Markdown or a standalone HTML page, the same
// bytes as ludex-cli's export; print and print preview lay the same branches out on pages. A
// locked branch appears as its title and a note that it is locked, never as cipher text. Plain
// text of unlocked encrypted branches leaves the program only after the user has agreed to it.
// The constructor connects the four menu items.
class TExportCommands : public QObject {
public:
    explicit TExportCommands(TForm_Ludex& window);

    // The save dialog: the file name's extension chooses the format (".txt", ".md", ".html",
    // ...), and the file type of the dialog where the name has none of them. Then, where the branches include
    // unlocked encrypted ones, the question "ExportEncryptedQuery"; the file is replaced
    // atomically, so a failed export leaves the old file or none.
    void MI_ExportBranchClick();
    void MI_ExportDocumentClick();
    // The print dialog: its page range "Selection" prints the selected branch with its
    // sub-branches, "All" the whole document. Then "PrintEncryptedQuery" where it applies.
    void MI_PrintClick();
    // The print preview of the selected branch with its sub-branches (the whole document when its
    // top branch is selected), after "PrintEncryptedQuery" where it applies.
    void MI_PrintPreviewClick();

    // Exports `top` to a file the user chooses, as long work that Cancel stops before the file is
    // replaced.
    void Export(const TDomNode& top);
    // The branches from `top` down, laid out as they are printed.
    std::unique_ptr<QTextDocument> PrintedDocument(const TDomNode& top) const;

private:
    // True when `top` holds no plain text of an encrypted branch, or when the user agrees to let
    // it out after the question `messageKey`. The branches are looked at as long work, shown with
    // the message `workKey`; cancelled, it throws ECancelled.
    bool MayRevealEncryptedText(const TDomNode& top, const char* messageKey, const char* workKey);
    void Print(const TDomNode& top, QPrinter& printer) const;

    TForm_Ludex& window_;
    int lastFormat_ = 0; // the index of the file type chosen last, offered first next time
};

} // namespace ludex
