#include "core/document/SaveName.h"

#include <cstddef>

namespace ludex {

namespace {

constexpr std::size_t kMostNameBytes = 200;

std::string Cleaned(std::string_view title) {
    std::string name;
    name.reserve(title.size());
    for (const char c : title) {
        const auto byte = static_cast<unsigned char>(c);
        name += (c == '/' || byte < 0x20 || byte == 0x7F) ? '_' : c;
    }
    const std::size_t first = name.find_first_not_of(" .");
    if (first == std::string::npos) {
        return {};
    }
    name.erase(0, first);
    name.erase(name.find_last_not_of(' ') + 1);
    if (name.size() > kMostNameBytes) {
        std::size_t end = kMostNameBytes;
        while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80) {
            --end;
        }
        name.resize(end);
        name.erase(name.find_last_not_of(' ') + 1);
    }
    return name;
}

} // namespace

std::string FileNameForTitle(std::string_view title, std::string_view fallback) {
    std::string name = Cleaned(title);
    if (name.empty()) {
        name = Cleaned(fallback);
    }
    if (name.empty()) {
        name = "document";
    }
    return name + "." + std::string(kDocumentExtension);
}

} // namespace ludex
