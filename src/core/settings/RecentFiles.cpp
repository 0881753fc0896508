#include "core/settings/RecentFiles.h"

#include "core/settings/PropertyBailee.h"

#include <algorithm>

namespace ludex {

namespace {
const char* const kRecentPath = "/recent";
const char* const kFileElement = "file";
const char* const kNameAttribute = "name";
} // namespace

void TRecentFiles::Add(const std::string& file) {
    if (file.empty()) {
        return;
    }
    Remove(file);
    files_.insert(files_.begin(), file);
    if (files_.size() > kCapacity) {
        files_.resize(kCapacity);
    }
}

bool TRecentFiles::Remove(const std::string& file) {
    const auto found = std::find(files_.begin(), files_.end(), file);
    if (found == files_.end()) {
        return false;
    }
    files_.erase(found);
    return true;
}

void TRecentFiles::Load(TPropertyBailee& settings) {
    files_.clear();
    settings.ForcePath(kRecentPath);
    IXMLNodeListPtr children = settings.Current()->GetChildNodes();
    for (int i = 0; children && i < children->GetCount() && files_.size() < kCapacity; ++i) {
        IXMLNodePtr child = children->Get(i);
        if (child->GetNodeType() != ntElement || child->GetNodeName() != kFileElement) {
            continue;
        }
        const std::string name = child->GetAttribute(kNameAttribute);
        if (!name.empty() && std::find(files_.begin(), files_.end(), name) == files_.end()) {
            files_.push_back(name);
        }
    }
}

void TRecentFiles::Save(TPropertyBailee& settings) const {
    settings.ForcePath(kRecentPath);
    IXMLNodePtr recent = settings.Current();
    recent->GetChildNodes()->Clear();
    for (const std::string& file : files_) {
        recent->AddChild(kFileElement)->SetAttribute(kNameAttribute, file);
    }
}

} // namespace ludex
