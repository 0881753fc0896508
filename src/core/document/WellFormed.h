#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace ludex {

// An attribute name the check looks out for while it reads every attribute anyway: `seen` tells,
// once the check has found the text well-formed, whether an element carries an attribute of
// that name.
struct TAttributeWatch {
    std::string_view name;
    bool seen = false;
};

// Where and why a text is not well-formed XML.
struct TMalformation {
    size_t offset = 0; // of the byte where the fault was found
    std::string reason;
};

// Checks that a UTF-8 text is a well-formed XML 1.0 document, so that nothing the parser would
// otherwise accept and change (an undefined entity kept as text, a reference without ";", a "<" in
// an attribute value, "]]>" in text, "--" in a comment, text outside the document element, a
// character reference to NUL or another character XML does not allow) ever enters a document.
//
// Checked: the XML declaration (only at the very start), comments, processing instructions,
// character-data sections (only inside the document element), one document type declaration
// before the document element (skipped, its entities never expanded), names, start and end tags
// in matching pairs, attributes (white space between them, no repeated name), references (the
// five predefined entities and character references to characters XML allows) and every
// character (XML's Char production), and that the text is UTF-8: a byte that does not belong to a
// UTF-8 character is the fault ("invalid UTF-8 byte sequence", at the first such byte) wherever
// it stands, before any other fault.
//
// The check works without recursion and in time linear in the text (an element with very many
// attributes included), so any nesting depth and any number of attributes is checked.
// Returns the first fault, or nothing for a well-formed document; then `referenceInText` (when
// given) tells whether a character reference stands in text content, where what it stands for
// can be white space at an end of a text node, and `watch` (when given) whether an attribute of
// its name stands in the text.
std::optional<TMalformation> FindMalformation(std::string_view text, bool* referenceInText = nullptr,
                                              TAttributeWatch* watch = nullptr);

// The same check, with the text from `split` on checked on a thread of its own beside the text
// before it. FindMalformation splits a large text so itself; here any split can be asked for, and
// the outcome is the same wherever it falls.
std::optional<TMalformation> FindMalformationSplitAt(std::string_view text, size_t split,
                                                     bool* referenceInText = nullptr,
                                                     TAttributeWatch* watch = nullptr);

// The check of a text that arrives from its start (a file being read), done as it arrives: each
// Advance checks what has arrived since the last, as far as the last tag in it, and Finish checks
// the rest (on two threads when it is large) and answers as FindMalformation does for the whole
// text. Where the arrived part cannot be taken so far (a fault in it, or a tag that turns out to
// stand inside a comment or a character-data section), Finish checks the whole text.
class TGrowingCheck {
public:
    // `watched` as in TAttributeWatch; it must outlive the check.
    explicit TGrowingCheck(std::string_view watched);
    ~TGrowingCheck();
    TGrowingCheck(const TGrowingCheck&) = delete;
    TGrowingCheck& operator=(const TGrowingCheck&) = delete;

    // `arrived` is the text's first bytes: at every call the same start in memory, holding the
    // bytes of every earlier call unchanged. False once the check no longer follows the text.
    bool Advance(std::string_view arrived);
    // The bytes given so far are to be forgotten (they move, say): Finish checks the whole text.
    void Drop() noexcept;
    // How far the text has been checked.
    size_t Checked() const { return checked_; }
    // The whole text, beginning with the bytes given to Advance where they were given. Call it once.
    std::optional<TMalformation> Finish(std::string_view text, bool* referenceInText = nullptr,
                                        TAttributeWatch* watch = nullptr);

private:
    struct TState;
    std::string_view watched_;
    std::unique_ptr<TState> state_;
    size_t checked_ = 0;
    bool following_ = true;
};

// Whether XML 1.0 allows the character in a document at all (its Char production).
constexpr bool IsXmlChar(char32_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
           (c >= 0x10000 && c <= 0x10FFFF);
}

// The message that refuses to store a text because of its character at `pos` (one XML cannot
// hold): it names the character and shows the text up to it, so that the user can find it.
std::string UnstorableCharacterMessage(std::string_view text, size_t pos);

} // namespace ludex
