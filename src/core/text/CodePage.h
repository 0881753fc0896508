#pragma once

#include "core/base/Exception.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

namespace ludex {

// A text cannot be converted between UTF-8 and a code page: a character the code page does not
// hold, a byte the code page does not define, malformed UTF-8, or an unknown code page.
class ECodePage : public Exception {
public:
    using Exception::Exception;
};

// A single-byte code page such as windows-1251, known by its iconv name. All text in memory is
// UTF-8; code-page bytes exist only where they are part of a stored format (the cipher's input,
// character references of the settings XML, files without a UTF-8 declaration). Conversions
// never substitute characters: what cannot be represented is an error.
class TCodePage {
public:
    // The tables are built once through iconv; throws ECodePage for an unknown name or a
    // code page that is not single-byte.
    explicit TCodePage(std::string name);

    const std::string& Name() const { return name_; }

    // Code-page bytes to UTF-8. Throws ECodePage for a byte the code page leaves undefined.
    std::string ToUtf8(std::string_view bytes) const;
    // Appends the UTF-8 form of one code-page byte; false when the code page leaves it undefined.
    bool AppendByteAsUtf8(std::string& out, unsigned char byte) const;
    // UTF-8 to code-page bytes. Throws ECodePage naming the code page for a character it cannot
    // hold, and for malformed UTF-8.
    std::string FromUtf8(std::string_view utf8) const;
    // Whether every character of the UTF-8 text has a byte in this code page.
    bool CanRepresent(std::string_view utf8) const;

    // Whether the bytes 0x00 to 0x7F are the ASCII characters of the same value, so that markup
    // and declarations read the same in this code page as in UTF-8.
    bool IsAsciiCompatible() const { return asciiCompatible_; }

    // The byte of the upper-case form of a byte's character, when this code page holds that form;
    // else the byte itself (so "\xE9" gives "\xC9" in windows-1252, and a character whose
    // upper case the code page lacks stays as it is).
    unsigned char UpperCaseByte(unsigned char byte) const { return upper_[byte]; }
    // The same for a character: its upper-case form when this code page holds both, else the
    // character itself.
    char32_t UpperCase(char32_t character) const;

    // A shared instance per name, built on first use.
    static const TCodePage& Get(const std::string& name);

private:
    bool Encode(std::string_view utf8, std::string* out, char32_t* failed, bool* malformed) const;

    std::string name_;
    std::array<char32_t, 256> toUnicode_{};
    std::array<bool, 256> defined_{};
    std::unordered_map<char32_t, unsigned char> fromUnicode_;
    std::array<unsigned char, 256> upper_{};
    bool asciiCompatible_ = true;
};

// The program-wide code page of stored memo bytes and passwords. Until it is set it is
// DefaultCodePageName().
const TCodePage& CurrentCodePage();
// Throws ECodePage, leaving the current code page as it was, for an unknown code page and for
// one that is not ASCII-compatible: the settings and language files are read in the current code
// page until they declare UTF-8, and such a code page would hide that declaration.
void SetCurrentCodePage(const std::string& name);

// windows-1251 when the system language is Russian, else windows-1252.
std::string DefaultCodePageName();

} // namespace ludex
