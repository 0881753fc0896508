#include "gui/app/ExportCommands.h"

#include "core/base/Exception.h"
#include "core/base/FileIO.h"
#include "core/document/XMLNodeAccess.h"
#include "core/export/DocumentExport.h"
#include "core/settings/LX_Localer.h"
#include "gui/app/CommandConnection.h"
#include "gui/app/LongWork.h"
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

// The file type whose patterns name the file's extension (in any case); otherwise `chosen`, the
// file type picked in the dialog.
int FileTypeOf(const QString& fileName, int chosen) {
    const QString extension = QFileInfo(fileName).suffix();
    if (extension.isEmpty()) {
        return chosen;
    }
    for (size_t i = 0; i < kFileTypes.size(); ++i) {
        for (const QString& pattern : QString(kFileTypes[i].patterns).split(';')) {
            if (pattern.mid(2).compare(extension, Qt::CaseInsensitive) == 0) {
                return static_cast<int>(i);
            }
        }
    }
    return chosen;
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

bool TExportCommands::MayRevealEncryptedText(const TDomNode& top, const char* messageKey,
                                             const char* workKey) {
    // The walk of a large branch runs as long work; the question comes after it, when the window
    // takes input again.
    bool reveals = false;
    RunLongWork(workKey, TCancel::Allowed, [&reveals, &top](TWorkProgress& progress) {
        reveals = ExportRevealsEncryptedText(top);
        progress.ThrowIfCancelled();
    });
    return !reveals ||
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
    // The name's extension says what the file is, whatever file type the dialog showed.
    const int type = FileTypeOf(choice->fileName, choice->filter);
    if (type < 0 || type >= static_cast<int>(kFileTypes.size())) {
        throw Exception("Unknown export file type " + std::to_string(type));
    }
    lastFormat_ = type;
    if (!MayRevealEncryptedText(top, "ExportEncryptedQuery", "WorkExporting")) {
        return;
    }
    const std::string path = QDir::cleanPath(choice->fileName).toStdString();
    const TExportFormat format = kFileTypes[static_cast<size_t>(type)].format;
    // A document of a million branches takes seconds to export: it runs as long work while the
    // window paints and takes no other input, so that the document stays as it is. Cancel stops
    // it before the file is replaced (the text is made in one piece, and the write looks at
    // Cancel between its pieces).
    TLongWork work("WorkExporting", TCancel::Allowed);
    TSaveOptions options;
    options.progress = [&work](size_t written, size_t total) {
        work.Progress().Report(written, total);
        work.Progress().ThrowIfCancelled();
    };
    work.RunOnWorker([&](TWorkProgress& progress) {
        const std::string text = ExportText(top, format, title);
        progress.ThrowIfCancelled();
        WriteFileAtomically(path, text, options);
    });
    window_.SetStatusText(Q(LanguageLocaler().FormatMessage("ExportDone", {path})));
}

namespace {

std::unique_ptr<QTextDocument> LayOutForPrint(const TDomNode& top, const QString& lockedNote,
                                              const QFont& font) {
    TPrintedBranches layout(lockedNote, font);
    ExportBranches(top, layout);
    return layout.Take();
}

} // namespace

std::unique_ptr<QTextDocument> TExportCommands::PrintedDocument(const TDomNode& top) const {
    return LayOutForPrint(top, Message("LockedNote"), window_.Memo->font());
}

void TExportCommands::Print(const TDomNode& top, QPrinter& printer) const {
    // A large branch takes seconds to lay out and print: the text document is made, printed and
    // destroyed on a worker (text documents and painting on a printer work off the GUI thread)
    // while the window paints. What it needs of the window is taken here first. A print that has
    // begun cannot be taken back, so the work has no Cancel.
    const QString lockedNote = Message("LockedNote");
    const QFont font = window_.Memo->font();
    RunLongWork("WorkPrinting", TCancel::NotAllowed, [&top, &printer, &lockedNote, &font](TWorkProgress&) {
        LayOutForPrint(top, lockedNote, font)->print(&printer);
    });
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
    if (MayRevealEncryptedText(top, "PrintEncryptedQuery", "WorkPrinting")) {
        Print(top, printer);
    }
}

void TExportCommands::MI_PrintPreviewClick() {
    window_.CommitMemo();
    const TDomNode top = window_.SelectedElement();
    if (!top || !MayRevealEncryptedText(top, "PrintEncryptedQuery", "WorkPrinting")) {
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
