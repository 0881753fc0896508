#pragma once

#include <QString>

class QTextDocument;

#include <string_view>

namespace ludex {

// The program keeps its texts as UTF-8; a widget shows them as a QString. Every such text
// crosses over here.
QString Q(std::string_view text);

// The text of a text control exactly as it holds it, with only the separators between its
// paragraphs (its line breaks) turned into LF: unlike QTextDocument::toPlainText, every no-break
// space and line separator stays what the user typed or the file held.
QString FaithfulPlainText(const QTextDocument& document);

// A menu caption without its mnemonic marks, as a tooltip or an accessible name shows it: each
// "&" that marks the next character goes, and "&&" becomes "&".
QString WithoutMnemonic(const QString& caption);

} // namespace ludex
