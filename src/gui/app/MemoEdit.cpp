#include "gui/app/MemoEdit.h"

#include <QClipboard>
#include <QGuiApplication>

#include <algorithm>
#include <memory>

namespace ludex {

TMemoEdit::TMemoEdit(QWidget* parent) : QPlainTextEdit(parent) {}

QMimeData* TMemoEdit::createMimeDataFromSelection() const {
    std::unique_ptr<QMimeData> made(QPlainTextEdit::createMimeDataFromSelection());
    std::vector<uintptr_t> sources = source_ ? source_() : std::vector<uintptr_t>();
    if (!made || sources.empty()) {
        return made.release();
    }
    // The control's own data lists a fixed set of formats; a secret copy is plain text alone,
    // with the mark beside it.
    auto* copy = new QMimeData;
    copy->setText(made->text());
    copy->setData(kSecretHintFormat, QByteArrayLiteral("secret"));
    secretCopy_ = copy;
    copiedFrom_ = std::move(sources);
    return copy;
}

void TMemoEdit::ForgetCopiesFrom(uintptr_t lockedBranch) {
    if (std::find(copiedFrom_.begin(), copiedFrom_.end(), lockedBranch) != copiedFrom_.end()) {
        ClearClipboardIfOurs();
    }
}

void TMemoEdit::ForgetAllCopies() {
    ClearClipboardIfOurs();
}

void TMemoEdit::ClearClipboardIfOurs() {
    // The clipboard holds the very data given to it for as long as nothing else took its place.
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (secretCopy_ != nullptr && clipboard->mimeData() == secretCopy_.data()) {
        clipboard->clear();
    }
    secretCopy_ = nullptr;
    copiedFrom_.clear();
}

} // namespace ludex
