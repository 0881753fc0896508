#include "gui/app/ExportCommands.h"

#include "core/base/Exception.h"
#include "core/base/FileIO.h"
#include "core/document/XMLNodeAccess.h"
#include "core/export/DocumentExport.h"
#include "core/settings/LX_Localer.h"
#include "gui/app/CommandConnection.h"
#include "gui/app/LudexUnit.h"
#include "gui/app/ModalQuestions.h"
#include "gui/app/PrintedBranches.h"
#include "gui/app/QtText.h"
#include "gui/tree/LXDocument.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QTextDocument>

#include <array>

namespace ludex {

namespace {

struct TFileType {
    TExportFormat format;
    const char* description; // the message key of the file type's name
    const char* patterns;
    const char* suffix;
};

// The file types of the save dialog, in its order.
constexpr std::array<TFileType, 3> kFileTypes = {{
    {TExportFormat::Text, "ExportTypeText", "*.txt", "txt"},
    {TExportFormat::Markdown, "ExportTypeMarkdown", "*.md;*.markdown", "md"},
    {TExportFormat::Html, "ExportTypeHtml", "*.html;*.htm", "html"},
}};

QString Message(const char* key) {
    return Q(LanguageLocaler().GetMessage(key));
}

// A title as a file name: no folder separator, no leading dot, never empty.
QString FileNameOf(const std::string& title) {
    QString name = Q(title).simplified();
    name.replace('/', '_');
    while (name.startsWith('.')) {
        name.remove(0, 1);
    }
    return name.isEmpty() ? Message("NewDocumentTitle") : name;
}

} // namespace

TExportCommands::TExportCommands(TForm_Ludex& window) : window_(window) {
    ConnectCommand(window.MI_ExportBranch, &QAction::triggered, this, [this] { MI_ExportBranchClick(); });
    ConnectCommand(window.MI_ExportDocument, &QAction::triggered, this, [this] { MI_ExportDocumentClick(); });
    ConnectCommand(window.MI_Print, &QAction::triggered, this, [this] { MI_PrintClick(); });
    ConnectCommand(window.MI_PrintPreview, &QAction::triggered, this, [this] { MI_PrintPreviewClick(); });
}

void TExportCommands::MI_ExportBranchClick() {
    window_.CommitMemo();
    if (const TDomNode top = window_.SelectedElement()) {
        Export(top);
    }
}

void TExportCommands::MI_ExportDocumentClick() {
    window_.CommitMemo();
    if (TLXDocument* document = window_.SelectedDocument()) {
        Export(document->RootElement());
    }
}

bool TExportCommands::MayRevealEncryptedText(const TDomNode& top, const char* messageKey) {
    return !ExportRevealsEncryptedText(top) ||
           ModalQuestions().Ask(&window_, Message(messageKey), TQuestionButtons::YesNo) == TAnswer::Yes;
}

void TExportCommands::Export(const TDomNode& top) {
    QString filter;
    QStringList suffixes;
    for (const TFileType& type : kFileTypes) {
        filter += (filter.isEmpty() ? "" : "|") + Message(type.description) + "|" + type.patterns;
        suffixes << type.suffix;
    }
    const std::string title = TitleAccess.Read(top);
    QString folder;
    if (const TLXDocument* document = window_.SelectedDocument(); document && !document->FileName().empty()) {
        folder = QFileInfo(Q(document->FileName())).absolutePath();
    }
    const QString suggested =
        (folder.isEmpty() ? QString() : folder + "/") + FileNameOf(title) + "." + suffixes[lastFormat_];
    const auto choice = ModalQuestions().SaveFileOfType(&window_, suggested, filter, suffixes, lastFormat_);
    if (!choice) {
        return;
    }
    if (choice->filter < 0 || choice->filter >= static_cast<int>(kFileTypes.size())) {
        throw Exception("Unknown export file type " + std::to_string(choice->filter));
    }
    lastFormat_ = choice->filter;
    if (!MayRevealEncryptedText(top, "ExportEncryptedQuery")) {
        return;
    }
    const std::string text = ExportText(top, kFileTypes[choice->filter].format, title);
    const std::string path = QDir::cleanPath(choice->fileName).toStdString();
    WriteFileAtomically(path, text);
    window_.SetStatusText(Q(LanguageLocaler().FormatMessage("ExportDone", {path})));
}

std::unique_ptr<QTextDocument> TExportCommands::PrintedDocument(const TDomNode& top) const {
    TPrintedBranches layout(Message("LockedNote"), window_.Memo->font());
    ExportBranches(top, layout);
    return layout.Take();
}

void TExportCommands::Print(const TDomNode& top, QPrinter& printer) const {
    const std::unique_ptr<QTextDocument> document = PrintedDocument(top);
    document->print(&printer);
    if (printer.printerState() == QPrinter::Error) {
        throw Exception(
            LanguageLocaler().FormatMessage("PrintFailed", {printer.outputFileName().toStdString()}));
    }
}

void TExportCommands::MI_PrintClick() {
    window_.CommitMemo();
    TLXDocument* document = window_.SelectedDocument();
    const TDomNode selected = window_.SelectedElement();
    if (document == nullptr) {
        return;
    }
    QPrinter printer(QPrinter::HighResolution);
    QPrintDialog dialog(&printer, &window_);
    dialog.setObjectName("PrintDialog");
    // "Selection" stands for the selected branch, "All" for the whole document.
    const bool branchSelected = selected && !(selected == document->RootElement());
    dialog.setOption(QAbstractPrintDialog::PrintSelection, branchSelected);
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
    if (branchSelected) {
        printer.setPrintRange(QPrinter::Selection);
    }
    if (ModalQuestions().Exec(dialog) != QDialog::Accepted) {
        return;
    }
    const TDomNode top =
        branchSelected && printer.printRange() == QPrinter::Selection ? selected : document->RootElement();
    if (MayRevealEncryptedText(top, "PrintEncryptedQuery")) {
        Print(top, printer);
    }
}

void TExportCommands::MI_PrintPreviewClick() {
    window_.CommitMemo();
    const TDomNode top = window_.SelectedElement();
    if (!top || !MayRevealEncryptedText(top, "PrintEncryptedQuery")) {
        return;
    }
    QPrinter printer(QPrinter::HighResolution);
    QPrintPreviewDialog dialog(&printer, &window_);
    dialog.setObjectName("PrintPreviewDialog");
    // The document stays as it is while the preview is open: the dialog is modal.
    ConnectCommand(&dialog, &QPrintPreviewDialog::paintRequested, &dialog,
                   [this, top](QPrinter* target) { Print(top, *target); });
    ModalQuestions().Exec(dialog);
}

} // namespace ludex
