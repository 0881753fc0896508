#pragma once

// Generated documents shared by the benchmarks.
#include "core/document/DocumentWriter.h"

#include <map>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace ludex::bench {

// A document of n branches: every branch has a title with non-ASCII letters and a memo of three
// lines; the tree has ten sub-branches per branch, so its depth grows with the logarithm of n.
inline std::string MakeDocument(int n) {
    std::string text(kDocumentDeclaration);
    text += "\r\n<ludex version=\"2.1.0 \" title=\"Bench\" memo=\"\">\r\n";
    // Branch i (1-based) has the children 10i-9+1 .. 10i+1, written depth first.
    struct Frame {
        int index;
        int nextChild;
    };
    std::vector<Frame> stack;
    auto open = [&](int i) {
        text += "<note title=\"Branch " + std::to_string(i) +
                " \xD0\x92\xD0\xB5\xD1\x82\xD0\xBA\xD0\xB0\" memo=\"";
        text += "First line of memo " + std::to_string(i) +
                "&#xA;\xD0\xB2\xD1\x82\xD0\xBE\xD1\x80\xD0\xB0\xD1\x8F "
                "\xD1\x81\xD1\x82\xD1\x80\xD0\xBE\xD0\xBA\xD0\xB0"
                " with some text&#xA;third line: 2 &lt; 3 &amp;&amp; "
                "\xC3\xBC\xC3\xB1\xC3\xAF\xC3\xA7\xC3\xB8\xC3\xB0\xC3\xA9\"";
        int first = 10 * (i - 1) + 2;
        if (first > n) {
            text += "/>\r\n";
            return;
        }
        text += ">\r\n";
        stack.push_back({i, first});
    };
    for (int top = 1; top <= 1; ++top) {
        open(top);
        while (!stack.empty()) {
            Frame& f = stack.back();
            if (f.nextChild <= n && f.nextChild < 10 * (f.index - 1) + 12) {
                open(f.nextChild++);
            } else {
                stack.pop_back();
                text += "</note>\r\n";
            }
        }
    }
    text += "</ludex>";
    return text;
}

inline const std::string& DocumentText(int n) {
    static std::map<int, std::string> cache;
    auto it = cache.find(n);
    if (it == cache.end()) {
        it = cache.emplace(n, MakeDocument(n)).first;
    }
    return it->second;
}

inline double PeakRssMegabytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0; // ru_maxrss is in kilobytes on Linux
}

} // namespace ludex::bench
