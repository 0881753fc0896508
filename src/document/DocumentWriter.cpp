#include "document/DocumentWriter.h"

#include "base/FileIO.h"
#include "crypto/Cipher.h"
#include "document/XMLNodeAccess.h"
#include "text/CodePage.h"
#include "text/Utf8.h"

#include <array>
#include <cstdio>
#include <vector>

namespace ludex {

namespace {

constexpr std::string_view kCrLf = "\r\n";

constexpr std::array<bool, 256> MakeEscapeTable() {
    std::array<bool, 256> table{};
    for (int b = 0; b < 0x20; ++b) {
        table[static_cast<size_t>(b)] = true;
    }
    for (unsigned char c : {'"', '&', '\'', '<', '>'}) {
        table[c] = true;
    }
    return table;
}

constexpr std::array<bool, 256> kNeedsEscape = MakeEscapeTable();

void AppendEscaped(std::string& out, std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    size_t runStart = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        auto b = static_cast<unsigned char>(text[i]);
        if (!kNeedsEscape[b]) {
            continue;
        }
        out.append(text.data() + runStart, i - runStart);
        runStart = i + 1;
        switch (b) {
        case '"':
            out += "&quot;";
            break;
        case '&':
            out += "&amp;";
            break;
        case '\'':
            out += "&apos;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        default:
            out += "&#x";
            if (b >= 0x10) {
                out += kHex[b >> 4];
            }
            out += kHex[b & 0x0F];
            out += ';';
            break;
        }
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

// ToUTF8(EscapeText(text)) appended to out.
void AppendValue(std::string& out, std::string_view text) {
    if (!IsValidUtf8(text)) {
        FailConversion(EscapeText(text));
    }
    AppendEscaped(out, text);
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
    if (!IsValidUtf8(text)) {
        FailConversion(text);
    }
    return std::string(text);
}

void WriteTextFile(const std::string& fileName, std::string_view text) {
    WriteFileAtomically(fileName, text);
}

} // namespace ludex
