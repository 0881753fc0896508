#include "core/document/BranchOrder.h"

namespace ludex {

namespace {
unsigned char FoldAscii(char c) {
    auto b = static_cast<unsigned char>(c);
    return (b >= 'a' && b <= 'z') ? static_cast<unsigned char>(b - 'a' + 'A') : b;
}
} // namespace

int CompareTitles(std::string_view a, std::string_view b) {
    const size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
        unsigned char x = FoldAscii(a[i]);
        unsigned char y = FoldAscii(b[i]);
        if (x != y) {
            return x < y ? -1 : 1;
        }
    }
    if (a.size() == b.size()) {
        return 0;
    }
    return a.size() < b.size() ? -1 : 1;
}

int CompareBranches(bool aHasChildren, std::string_view aTitle, bool bHasChildren, std::string_view bTitle) {
    if (aHasChildren != bHasChildren) {
        return aHasChildren ? -1 : 1;
    }
    return CompareTitles(aTitle, bTitle);
}

} // namespace ludex
