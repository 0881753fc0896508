#include "core/text/CodePage.h"

#include "core/crypto/Secret.h"
#include "core/text/Iconv.h"
#include "core/text/SystemLocale.h"
#include "core/text/Utf8.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cwctype>
#include <locale.h>
#include <map>
#include <memory>
#include <mutex>

namespace ludex {

namespace {

std::string Describe(char32_t cp) {
    std::string s;
    AppendUtf8(s, cp);
    return "\"" + s + "\" (" + CodePointText(cp) + ")";
}

// Unicode case mapping, independent of the process locale.
locale_t UnicodeCaseLocale() {
    static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    if (locale == static_cast<locale_t>(nullptr)) {
        throw ECodePage("The C.UTF-8 locale, needed for upper-casing in a code page, is not available");
    }
    return locale;
}

} // namespace

TCodePage::TCodePage(std::string name) : name_(std::move(name)) {
    TIconv cd("UTF-32LE", name_.c_str());
    if (!cd.Valid()) {
        throw ECodePage("Unknown code page: " + name_);
    }
    for (int b = 0; b < 256; ++b) {
        iconv(cd.Get(), nullptr, nullptr, nullptr, nullptr); // reset shift state
        char in = static_cast<char>(b);
        char* inPtr = &in;
        size_t inLeft = 1;
        unsigned char out[16];
        char* outPtr = reinterpret_cast<char*>(out);
        size_t outLeft = sizeof out;
        size_t r = iconv(cd.Get(), &inPtr, &inLeft, &outPtr, &outLeft);
        if (r == static_cast<size_t>(-1)) {
            if (errno == EINVAL) {
                throw ECodePage("Not a single-byte code page: " + name_);
            }
            continue; // EILSEQ: the code page leaves this byte undefined
        }
        size_t produced = sizeof out - outLeft;
        if (produced != 4) {
            throw ECodePage("Not a single-byte code page: " + name_);
        }
        char32_t cp = static_cast<char32_t>(out[0]) | (static_cast<char32_t>(out[1]) << 8) |
                      (static_cast<char32_t>(out[2]) << 16) | (static_cast<char32_t>(out[3]) << 24);
        toUnicode_[static_cast<size_t>(b)] = cp;
        defined_[static_cast<size_t>(b)] = true;
        // The first byte for a character wins, should a code page map two bytes to one character.
        fromUnicode_.emplace(cp, static_cast<unsigned char>(b));
    }
    for (int b = 0; b < 0x80; ++b) {
        asciiCompatible_ = asciiCompatible_ && defined_[static_cast<size_t>(b)] &&
                           toUnicode_[static_cast<size_t>(b)] == static_cast<char32_t>(b);
    }
    const locale_t caseLocale = UnicodeCaseLocale();
    for (size_t b = 0; b < 256; ++b) {
        upper_[b] = static_cast<unsigned char>(b);
        if (defined_[b]) {
            const auto upper =
                static_cast<char32_t>(towupper_l(static_cast<wint_t>(toUnicode_[b]), caseLocale));
            const auto found = fromUnicode_.find(upper);
            if (found != fromUnicode_.end()) {
                upper_[b] = found->second;
            }
        }
    }
}

char32_t TCodePage::UpperCase(char32_t character) const {
    if (character < 0x80 && toUnicode_[character] == character) {
        return toUnicode_[upper_[character]];
    }
    const auto found = fromUnicode_.find(character);
    return found == fromUnicode_.end() ? character : toUnicode_[upper_[found->second]];
}

bool TCodePage::AppendByteAsUtf8(std::string& out, unsigned char byte) const {
    if (!defined_[byte]) {
        return false;
    }
    AppendUtf8(out, toUnicode_[byte]);
    return true;
}

std::string TCodePage::ToUtf8(std::string_view bytes) const {
    // Room for the longest result (three bytes for each: a single-byte code page stays within the
    // basic plane), so that the text, which may be a deciphered memo, is never moved and left
    // behind; what is made is wiped when the conversion fails.
    std::string out;
    out.reserve(bytes.size() * 3);
    for (char c : bytes) {
        auto b = static_cast<unsigned char>(c);
        if (b < 0x80 && toUnicode_[b] == b) {
            out.push_back(c);
        } else if (!AppendByteAsUtf8(out, b)) {
            WipeMemory(out.data(), out.capacity());
            char hex[8];
            std::snprintf(hex, sizeof hex, "0x%02X", b);
            throw ECodePage(std::string("The byte ") + hex + " is not defined in code page " + name_);
        }
    }
    return out;
}

bool TCodePage::Encode(std::string_view utf8, std::string* out, char32_t* failed, bool* malformed) const {
    size_t pos = 0;
    while (pos < utf8.size()) {
        char32_t cp;
        if (!DecodeUtf8(utf8, pos, cp)) {
            *malformed = true;
            return false;
        }
        if (cp < 0x80 && toUnicode_[cp] == cp) {
            if (out) {
                out->push_back(static_cast<char>(cp));
            }
            continue;
        }
        auto it = fromUnicode_.find(cp);
        if (it == fromUnicode_.end()) {
            *failed = cp;
            return false;
        }
        if (out) {
            out->push_back(static_cast<char>(it->second));
        }
    }
    return true;
}

std::string TCodePage::FromUtf8(std::string_view utf8) const {
    std::string out;
    out.reserve(utf8.size());
    char32_t failed = 0;
    bool malformed = false;
    if (!Encode(utf8, &out, &failed, &malformed)) { // never grows: one byte at most for each
        WipeMemory(out.data(), out.capacity());
        if (malformed) {
            throw ECodePage("The text is not valid UTF-8");
        }
        throw ECodePage("The character " + Describe(failed) + " cannot be represented in code page " + name_);
    }
    return out;
}

bool TCodePage::CanRepresent(std::string_view utf8) const {
    char32_t failed = 0;
    bool malformed = false;
    return Encode(utf8, nullptr, &failed, &malformed);
}

const TCodePage& TCodePage::Get(const std::string& name) {
    static std::mutex mutex;
    static std::map<std::string, std::unique_ptr<TCodePage>> cache;
    std::lock_guard lock(mutex);
    auto it = cache.find(name);
    if (it == cache.end()) {
        it = cache.emplace(name, std::make_unique<TCodePage>(name)).first;
    }
    return *it->second;
}

namespace {
// Read by writers on other threads (a save, a recovery snapshot) while the user may choose another.
std::atomic<const TCodePage*> gCurrent = nullptr;
} // namespace

const TCodePage& CurrentCodePage() {
    if (const TCodePage* current = gCurrent.load()) {
        return *current;
    }
    const TCodePage& fallback = TCodePage::Get(DefaultCodePageName());
    const TCodePage* none = nullptr;
    gCurrent.compare_exchange_strong(none, &fallback);
    return *gCurrent.load();
}

void SetCurrentCodePage(const std::string& name) {
    const TCodePage& codePage = TCodePage::Get(name);
    if (!codePage.IsAsciiCompatible()) {
        throw ECodePage("Code page " + name +
                        " cannot be used: its bytes 0x00 to 0x7F are not the ASCII characters, so a "
                        "file's UTF-8 declaration could not be recognised");
    }
    gCurrent = &codePage;
}

std::string DefaultCodePageName() {
    return SystemLanguageIdentifier() == kLanguageIdRussian ? "windows-1251" : "windows-1252";
}

} // namespace ludex
