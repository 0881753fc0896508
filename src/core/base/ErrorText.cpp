#include "core/base/ErrorText.h"

namespace ludex {

namespace {

const std::string_view kEllipsis = "\xE2\x80\xA6"; // U+2026

bool IsContinuationByte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// The first `limit` bytes of the text, shortened to end between two UTF-8 characters.
std::string_view Head(std::string_view text, std::size_t limit) {
    if (text.size() <= limit) {
        return text;
    }
    std::size_t end = limit;
    while (end > 0 && IsContinuationByte(text[end])) {
        --end;
    }
    return text.substr(0, end);
}

} // namespace

std::string WithoutNul(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        if (c == '\0') {
            out += "\\0";
        } else {
            out += c;
        }
    }
    return out;
}

std::string MessageForDisplay(std::string_view message) {
    std::string out;
    std::size_t pos = 0;
    while (pos < message.size()) {
        const std::size_t open = message.find('"', pos);
        if (open == std::string_view::npos) {
            out += message.substr(pos);
            break;
        }
        out += message.substr(pos, open + 1 - pos);
        const std::size_t close = message.find('"', open + 1);
        const std::string_view excerpt = message.substr(
            open + 1, close == std::string_view::npos ? std::string_view::npos : close - open - 1);
        if (excerpt.size() > kShownExcerptBytes || close == std::string_view::npos) {
            const std::string_view head = Head(excerpt, kShownExcerptBytes);
            out += head;
            if (head.size() < excerpt.size()) {
                out += kEllipsis;
            }
        } else {
            out += excerpt;
        }
        if (close == std::string_view::npos) {
            break;
        }
        out += '"';
        pos = close + 1;
    }
    if (out.size() > kShownMessageBytes) {
        out = std::string(Head(out, kShownMessageBytes)) + std::string(kEllipsis);
    }
    return WithoutNul(out);
}

} // namespace ludex
