#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace ludex {

class TPropertyBailee;

// The documents most recently opened or saved, the latest first, each named once; at most
// kCapacity. Kept in the settings as "/recent" with one child "file" per document, its name in
// the attribute "name".
class TRecentFiles {
public:
    static constexpr std::size_t kCapacity = 10;

    // Puts the file first (moving it when it is listed already); the oldest beyond the capacity
    // leaves. An empty name is no document and is ignored.
    void Add(const std::string& file);
    // False when the file was not listed.
    bool Remove(const std::string& file);
    const std::vector<std::string>& Files() const { return files_; }

    // Replaces the list by the one in the settings; empty names and repeats are skipped, entries
    // beyond the capacity ignored. The cursor is left on "/recent".
    void Load(TPropertyBailee& settings);
    void Save(TPropertyBailee& settings) const;

private:
    std::vector<std::string> files_;
};

} // namespace ludex
