#include "core/document/DocumentDecoder.h"

#include "core/text/CodePage.h"
#include "core/text/Iconv.h"

#include <cstdio>
#include <cstring>

namespace ludex {

namespace {

std::string AsciiLower(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

bool StartsWith(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && s.substr(0, prefix.size()) == prefix;
}

// The encoding named in the XML declaration at the start of the bytes; empty when there is no
// declaration or it names none.
std::string DeclaredEncoding(std::string_view bytes) {
    if (!StartsWith(bytes, "<?xml")) {
        return {};
    }
    size_t end = bytes.find("?>");
    if (end == std::string_view::npos) {
        return {};
    }
    std::string_view decl = bytes.substr(0, end);
    size_t key = decl.find("encoding");
    if (key == std::string_view::npos) {
        return {};
    }
    size_t pos = key + 8;
    auto skipBlanks = [&] {
        while (pos < decl.size() &&
               (decl[pos] == ' ' || decl[pos] == '\t' || decl[pos] == '\r' || decl[pos] == '\n')) {
            ++pos;
        }
    };
    skipBlanks();
    if (pos >= decl.size() || decl[pos] != '=') {
        return {};
    }
    ++pos;
    skipBlanks();
    if (pos >= decl.size() || (decl[pos] != '"' && decl[pos] != '\'')) {
        return {};
    }
    char quote = decl[pos++];
    size_t close = decl.find(quote, pos);
    if (close == std::string_view::npos) {
        return {};
    }
    return std::string(decl.substr(pos, close - pos));
}

std::string Utf16ToUtf8(std::string_view bytes, const char* encoding, std::string_view source) {
    TIconv cd("UTF-8", encoding);
    if (!cd.Valid()) {
        throw EDomError("\"" + std::string(source) + "\": the system cannot convert " + encoding);
    }
    std::string out(bytes.size() * 3 / 2 + 16, '\0');
    char* in = const_cast<char*>(bytes.data());
    size_t inLeft = bytes.size();
    char* outPtr = out.data();
    size_t outLeft = out.size();
    if (iconv(cd.Get(), &in, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1)) {
        // The output is large enough for any UTF-16 text, so this is a bad or truncated sequence.
        size_t produced = out.size() - outLeft;
        out.resize(produced);
        throw EDomError(
            LocatedMessage(source, out, produced, std::string("invalid ") + encoding + " sequence"));
    }
    out.resize(out.size() - outLeft);
    return out;
}

std::string SingleByteToUtf8(std::string_view bytes, const std::string& encoding, std::string_view source) {
    const TCodePage* page = nullptr;
    try {
        page = &TCodePage::Get(encoding);
    } catch (const ECodePage& e) {
        throw EDomError("\"" + std::string(source) + "\": unsupported encoding \"" + encoding + "\" (" +
                        e.Message() + ")");
    }
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 2);
    for (char c : bytes) {
        if (!page->AppendByteAsUtf8(out, static_cast<unsigned char>(c))) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "0x%02X", static_cast<unsigned char>(c));
            throw EDomError(LocatedMessage(
                source, out, out.size(), std::string("the byte ") + hex + " is not defined in " + encoding));
        }
    }
    return out;
}

// The bytes of a document that is not UTF-8, as UTF-8.
std::string DecodeOtherThanUtf8(std::string_view bytes, std::string_view source) {
    auto u = [bytes](size_t i) {
        return i < bytes.size() ? static_cast<unsigned>(static_cast<unsigned char>(bytes[i])) : 0x100u;
    };
    if (u(0) == 0xFF && u(1) == 0xFE) {
        return Utf16ToUtf8(bytes.substr(2), "UTF-16LE", source);
    }
    if (u(0) == 0xFE && u(1) == 0xFF) {
        return Utf16ToUtf8(bytes.substr(2), "UTF-16BE", source);
    }
    if ((u(0) == 0 && u(1) == '<') || (u(0) == '<' && u(1) == 0)) {
        throw EDomError("\"" + std::string(source) +
                        "\": UTF-16 text without a byte-order mark is not supported");
    }
    const std::string encoding = DeclaredEncoding(bytes);
    const std::string lower = AsciiLower(encoding);
    if (StartsWith(lower, "utf-") || StartsWith(lower, "ucs-") || StartsWith(lower, "utf1")) {
        throw EDomError("\"" + std::string(source) + "\": the declared encoding \"" + encoding +
                        "\" needs a byte-order mark");
    }
    return SingleByteToUtf8(bytes, encoding, source);
}

} // namespace

std::pair<size_t, size_t> LineAndColumnOf(std::string_view text, size_t offset) {
    offset = std::min(offset, text.size());
    size_t line = 1;
    size_t lineStart = 0;
    for (size_t i = 0; i < offset; ++i) {
        if (text[i] == '\n') {
            ++line;
            lineStart = i + 1;
        }
    }
    size_t column = 1;
    for (size_t i = lineStart; i < offset; ++i) {
        // Count characters: every byte that does not continue a UTF-8 sequence.
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            ++column;
        }
    }
    return {line, column};
}

std::string LocatedMessage(std::string_view source, std::string_view text, size_t offset,
                           std::string_view what) {
    auto [line, column] = LineAndColumnOf(text, offset);
    std::string message = "\"";
    message.append(source).append("\", line ").append(std::to_string(line));
    message.append(", column ").append(std::to_string(column)).append(": ").append(what);
    return message;
}

TDocumentDecoder::THead TDocumentDecoder::Decide(std::string_view bytes, TInput input) {
    const bool final = input == TInput::Complete;
    auto u = [bytes](size_t i) {
        return i < bytes.size() ? static_cast<unsigned>(static_cast<unsigned char>(bytes[i])) : 0x100u;
    };
    if (!final && bytes.size() < 3) {
        return THead::Undecided;
    }
    if (u(0) == 0xEF && u(1) == 0xBB && u(2) == 0xBF) {
        start_ = 3;
        return THead::Utf8;
    }
    if ((u(0) == 0xFF && u(1) == 0xFE) || (u(0) == 0xFE && u(1) == 0xFF) || (u(0) == 0 && u(1) == '<') ||
        (u(0) == '<' && u(1) == 0)) {
        return THead::Other;
    }
    constexpr std::string_view kDeclaration = "<?xml";
    if (!final && bytes.size() < kDeclaration.size() && kDeclaration.substr(0, bytes.size()) == bytes) {
        return THead::Undecided;
    }
    if (!final && StartsWith(bytes, kDeclaration)) {
        // The declaration names the encoding; it must be complete before it is read.
        if (bytes.find("?>", declarationSearch_) == std::string_view::npos) {
            declarationSearch_ = bytes.size() - 1;
            return THead::Undecided;
        }
    }
    const std::string lower = AsciiLower(DeclaredEncoding(bytes));
    return lower.empty() || lower == "utf-8" || lower == "utf8" ? THead::Utf8 : THead::Other;
}

void TDocumentDecoder::Received(std::string_view bytes) {
    if (head_ == THead::Undecided) {
        head_ = Decide(bytes, TInput::Partial);
    }
    if (head_ == THead::Utf8 && checkUtf8_) {
        check_.Advance(bytes.substr(start_), TInput::Partial);
    }
}

TDecodedDocument TDocumentDecoder::Finish(std::string&& bytes) {
    if (head_ == THead::Undecided) {
        head_ = Decide(bytes, TInput::Complete);
    }
    if (head_ == THead::Other) {
        std::string text = DecodeOtherThanUtf8(bytes, source_);
        const bool suspectReference = HasSuspectReference(text);
        return {.text = std::move(text), .suspectReference = suspectReference};
    }
    const std::string_view text = std::string_view(bytes).substr(start_);
    if (checkUtf8_) {
        check_.Advance(text, TInput::Complete);
        if (check_.Utf8Failed()) {
            throw EDomError(LocatedMessage(source_, text, check_.BadOffset(), "invalid UTF-8 byte sequence"));
        }
    }
    if (start_ != 0) {
        // By hand rather than erase(), which GCC 12 at -O3 wrongly warns about (-Wrestrict).
        const size_t size = bytes.size() - start_;
        std::memmove(bytes.data(), bytes.data() + start_, size);
        bytes.resize(size);
    }
    return {.text = std::move(bytes), .suspectReference = checkUtf8_ && check_.SuspectReference()};
}

std::string DecodeDocument(std::string&& bytes, std::string_view source) {
    return TDocumentDecoder(source).Finish(std::move(bytes)).text;
}

} // namespace ludex
