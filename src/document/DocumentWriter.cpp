#include "document/DocumentWriter.h"

#include "base/FileIO.h"
#include "crypto/Cipher.h"
#include "document/Utf8Scan.h"
#include "document/XMLNodeAccess.h"
#include "text/CodePage.h"
#include "text/Utf8.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace ludex {

namespace {

constexpr std::string_view kCrLf = "\r\n";

// The replacement of every byte that is escaped; an empty one for the bytes written as they are.
struct TEscape {
    char text[7]{};
    unsigned char length = 0;
};

constexpr std::array<TEscape, 256> MakeEscapeTable() {
    std::array<TEscape, 256> table{};
    auto set = [&](unsigned char b, std::string_view text) {
        for (size_t i = 0; i < text.size(); ++i) {
            table[b].text[i] = text[i];
        }
        table[b].length = static_cast<unsigned char>(text.size());
    };
    constexpr char kHex[] = "0123456789ABCDEF";
    for (unsigned b = 0; b < 0x20; ++b) {
        char ref[7] = {'&', '#', 'x', 0, 0, 0, 0};
        size_t n = 3;
        if (b >= 0x10) {
            ref[n++] = kHex[b >> 4];
        }
        ref[n++] = kHex[b & 0x0F];
        ref[n++] = ';';
        set(static_cast<unsigned char>(b), std::string_view(ref, n));
    }
    set('"', "&quot;");
    set('&', "&amp;");
    set('\'', "&apos;");
    set('<', "&lt;");
    set('>', "&gt;");
    return table;
}

constexpr std::array<TEscape, 256> kEscapes = MakeEscapeTable();

void AppendEscaped(std::string& out, std::string_view text) {
    size_t runStart = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const TEscape& e = kEscapes[static_cast<unsigned char>(text[i])];
        if (e.length == 0) {
            continue;
        }
        out.append(text.data() + runStart, i - runStart);
        out.append(e.text, e.length);
        runStart = i + 1;
    }
    out.append(text.data() + runStart, text.size() - runStart);
}

[[noreturn]] void FailConversion(std::string_view escaped) {
    std::string shown;
    size_t pos = 0;
    while (pos < escaped.size()) {
        char32_t cp;
        size_t start = pos;
        if (DecodeUtf8(escaped, pos, cp)) {
            shown.append(escaped.substr(start, pos - start));
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(escaped[pos]));
            shown += hex;
            ++pos;
        }
    }
    throw Exception("Can not convert " + shown + " to UTF-8");
}

// Whether a block of 16 bytes holds nothing but ASCII that is written as it is: no byte at or above
// 0x80, below 0x20, or a markup character.
inline bool CleanBlock16(const char* p) {
#if defined(__SSE2__)
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    // Signed comparison: bytes from 0x80 up are negative, so they count as below 0x20.
    __m128i m = _mm_cmplt_epi8(v, _mm_set1_epi8(0x20));
    m = _mm_or_si128(m, _mm_cmpeq_epi8(v, _mm_set1_epi8('"')));
    m = _mm_or_si128(m, _mm_cmpeq_epi8(v, _mm_set1_epi8('&')));
    m = _mm_or_si128(m, _mm_cmpeq_epi8(v, _mm_set1_epi8('\'')));
    m = _mm_or_si128(m, _mm_cmpeq_epi8(v, _mm_set1_epi8('<')));
    m = _mm_or_si128(m, _mm_cmpeq_epi8(v, _mm_set1_epi8('>')));
    return _mm_movemask_epi8(m) == 0;
#else
    for (int i = 0; i < 16; ++i) {
        auto b = static_cast<unsigned char>(p[i]);
        if (b >= 0x80 || kEscapes[b].length != 0) {
            return false;
        }
    }
    return true;
#endif
}

// ToUTF8(EscapeText(text)) appended to out, in one pass: escapes markup characters and control
// bytes and checks that the rest is UTF-8. Nothing is appended when the text is not UTF-8.
void AppendValue(std::string& out, std::string_view text) {
    const size_t mark = out.size();
    const char* data = text.data();
    const size_t n = text.size();
    size_t runStart = 0;
    size_t i = 0;
    while (i < n) {
        while (i + 16 <= n && CleanBlock16(data + i)) {
            i += 16;
        }
        // The next block needs care: take it character by character.
        const size_t end = i + 16 < n ? i + 16 : n;
        while (i < end) {
            auto b = static_cast<unsigned char>(data[i]);
            if (b < 0x80) {
                const TEscape& e = kEscapes[b];
                if (e.length != 0) {
                    out.append(data + runStart, i - runStart);
                    out.append(e.text, e.length);
                    runStart = i + 1;
                }
                ++i;
            } else if (b >= 0xC2 && b <= 0xDF && i + 1 < n &&
                       (static_cast<unsigned char>(data[i + 1]) & 0xC0) == 0x80) {
                i += 2; // the common two-byte sequence
            } else {
                size_t pos = i;
                char32_t codePoint;
                if (!DecodeUtf8(text, pos, codePoint)) {
                    out.resize(mark);
                    FailConversion(EscapeText(text));
                }
                i = pos;
            }
        }
    }
    out.append(data + runStart, n - runStart);
}

// Writes one tree depth first with an explicit stack. Every enciphered element collects the
// text of its children in a buffer of its own, which becomes its payload when it is closed.
class TWriter {
public:
    std::string Write(const TDomNode& top) {
        if (Open(top)) {
            while (!stack_.empty()) {
                Frame& frame = stack_.back();
                if (frame.next) {
                    TDomNode child = frame.next;
                    frame.next = child.NextSibling();
                    if (!Open(child)) {
                        Out() += kCrLf; // a leaf child is complete
                    }
                } else {
                    Close();
                }
            }
        }
        return std::move(result_);
    }

private:
    struct Frame {
        TDomNode element;
        TDomNode next;           // the next child to write
        std::string password;    // code-page bytes; empty for a plain element
        bool enciphered = false; // the children go to a payload buffer
    };

    std::string& Out() { return payloads_.empty() ? result_ : payloads_.back(); }

    // Writes a leaf completely, or the start of an element with children and pushes its frame
    // (returns true then).
    bool Open(const TDomNode& node) {
        switch (node.Kind()) {
        case TDomNodeKind::Text:
            AppendValue(Out(), node.Text());
            return false;
        case TDomNodeKind::Element:
            break;
        default:
            throw Exception("Unsupported NodeType");
        }
        const std::string password = PasswordAccess.Read(node);
        std::string passwordBytes;
        std::string memo; // the enciphered memo
        if (!password.empty()) {
            const TCodePage& page = CurrentCodePage();
            passwordBytes = page.FromUtf8(password);
            memo = Base64Encode(EncryptBranchText(page.FromUtf8(MemoAccess.Read(node)), passwordBytes));
        }
        std::string& out = Out();
        out += '<';
        out += node.Name();
        bool memoWritten = false;
        for (TDomAttribute a = node.FirstAttribute(); a; a = a.Next()) {
            std::string_view value = a.Value();
            if (!password.empty()) {
                if (a.Name() == PasswordAccess.Name()) {
                    continue;
                }
                if (a.Name() == MemoAccess.Name() && !memoWritten) {
                    value = memo;
                    memoWritten = true;
                }
            }
            out += ' ';
            out += a.Name();
            out += "=\"";
            AppendValue(out, value);
            out += '"';
        }
        if (!password.empty() && !memoWritten) {
            out += ' ';
            out += MemoAccess.Name();
            out += "=\"";
            out += memo;
            out += '"';
        }
        TDomNode first = node.FirstChild();
        if (!first) {
            out += "/>";
            return false;
        }
        out += '>';
        if (password.empty()) {
            out += kCrLf;
            stack_.push_back(Frame{node, first, {}, false});
        } else {
            payloads_.emplace_back();
            stack_.push_back(Frame{node, first, std::move(passwordBytes), true});
        }
        return true;
    }

    void Close() {
        Frame frame = std::move(stack_.back());
        stack_.pop_back();
        if (frame.enciphered) {
            std::string plain = std::move(payloads_.back());
            payloads_.pop_back();
            Out() += Base64Encode(EncryptBranchText(plain, frame.password));
        }
        std::string& out = Out();
        out += "</";
        out += frame.element.Name();
        out += '>';
        if (!stack_.empty()) {
            out += kCrLf;
        }
    }

    std::string result_;
    std::vector<std::string> payloads_;
    std::vector<Frame> stack_;
};

} // namespace

std::string DocumentToText(const TDomNode& root) {
    std::string text(kDocumentDeclaration);
    text += kCrLf;
    text += ElementToText(root);
    return text;
}

std::string ElementToText(const TDomNode& node) {
    return TWriter().Write(node);
}

std::string ChildrenToText(const TDomNode& element) {
    std::string text;
    for (TDomNode child = element.FirstChild(); child; child = child.NextSibling()) {
        text += ElementToText(child);
        text += kCrLf;
    }
    return text;
}

std::string EscapeText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    AppendEscaped(out, text);
    return out;
}

std::string ToUTF8(std::string_view text) {
    if (!IsValidUtf8Scan(text)) {
        FailConversion(text);
    }
    return std::string(text);
}

void WriteTextFile(const std::string& fileName, std::string_view text) {
    WriteFileAtomically(fileName, text);
}

} // namespace ludex
