#pragma once

#include <QMimeData>
#include <QPlainTextEdit>
#include <QPointer>

#include <cstdint>
#include <functional>
#include <vector>

namespace ludex {

// The memo control. Text copied (or cut) from the memo of a branch that is enciphered when saved
// (an encrypted branch or one below it) is marked for clipboard managers as password managers
// mark a password (the "x-kde-passwordManagerHint" format, "secret"), so that they keep no
// history of it; and it is taken off the clipboard again when such a branch is locked, as long
// as the clipboard still holds that copy.
class TMemoEdit : public QPlainTextEdit {
public:
    // The identities (TDomNode::Id) of the encrypted branches the shown memo lies in, innermost
    // first; empty when it lies in none.
    using TSecretSource = std::function<std::vector<uintptr_t>()>;

    static constexpr const char* kSecretHintFormat = "x-kde-passwordManagerHint";

    explicit TMemoEdit(QWidget* parent);
    void SetSecretSource(TSecretSource source) { source_ = std::move(source); }

    // The encrypted branch with that identity has been locked (or its document closed): a copy
    // made from inside it goes off the clipboard. ForgetAllCopies: every branch has been locked.
    void ForgetCopiesFrom(uintptr_t lockedBranch);
    void ForgetAllCopies();

protected:
    QMimeData* createMimeDataFromSelection() const override;

private:
    void ClearClipboardIfOurs();

    TSecretSource source_;
    mutable QPointer<QMimeData> secretCopy_;    // the last marked copy given to the clipboard
    mutable std::vector<uintptr_t> copiedFrom_; // the encrypted branches it came from
};

} // namespace ludex
