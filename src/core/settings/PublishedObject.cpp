#include "core/settings/PublishedObject.h"

#include "core/base/Exception.h"

#include <utility>

namespace ludex {

namespace {

char LowerAscii(char c) noexcept {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

} // namespace

bool SameTextAscii(std::string_view a, std::string_view b) noexcept {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) {
            return false;
        }
    }
    return true;
}

TPublishedBase::TPublishedBase(std::string name) : name_(std::move(name)) {}

TPublishedObject* TPublishedBase::FindComponent(std::string_view name) const {
    for (TPublishedObject* component : components_) {
        if (SameTextAscii(component->GetName(), name)) {
            return component;
        }
    }
    return nullptr;
}

const TPublishedProperty* TPublishedBase::FindProperty(std::string_view name) const {
    for (const TPublishedProperty& property : properties_) {
        if (SameTextAscii(property.Name, name)) {
            return &property;
        }
    }
    return nullptr;
}

std::optional<TWindowBounds> TPublishedBase::RestoredBounds() const {
    if (!restoredBounds_) {
        return std::nullopt;
    }
    return restoredBounds_();
}

void TPublishedBase::AddComponent(TPublishedObject& component) {
    components_.push_back(&component);
}

void TPublishedBase::SetRestoredBounds(std::function<TWindowBounds()> bounds) {
    restoredBounds_ = std::move(bounds);
}

TPublishedProperty& TPublishedBase::AddProperty(TPublishedProperty property) {
    const bool hasGetter = [&] {
        switch (property.Kind) {
        case TPropertyKind::Integer:
        case TPropertyKind::Enumeration:
        case TPropertyKind::Set:
            return static_cast<bool>(property.GetOrdinal);
        case TPropertyKind::Float:
            return static_cast<bool>(property.GetFloat);
        case TPropertyKind::Text:
            return static_cast<bool>(property.GetText);
        case TPropertyKind::Object:
            return static_cast<bool>(property.GetObject);
        case TPropertyKind::StringList:
            return static_cast<bool>(property.GetStrings);
        case TPropertyKind::Unsupported:
            return true;
        }
        return false;
    }();
    if (!hasGetter) {
        throw Exception("Published property " + property.Name + " of " + name_ + " has no getter");
    }
    properties_.push_back(std::move(property));
    return properties_.back();
}

TPublishedProperty& TPublishedBase::AddInteger(std::string name, std::function<int32_t()> get,
                                               std::function<void(int32_t)> set) {
    TPublishedProperty p;
    p.Name = std::move(name);
    p.Kind = TPropertyKind::Integer;
    if (get) {
        p.GetOrdinal = [get = std::move(get)] { return static_cast<int64_t>(get()); };
    }
    if (set) {
        p.SetOrdinal = [set = std::move(set)](int64_t v) { set(static_cast<int32_t>(v)); };
    }
    return AddProperty(std::move(p));
}

TPublishedProperty& TPublishedBase::AddBoolean(std::string name, std::function<bool()> get,
                                               std::function<void(bool)> set) {
    TPublishedProperty p;
    p.Name = std::move(name);
    p.Kind = TPropertyKind::Enumeration;
    p.ValueNames = {"False", "True"};
    if (get) {
        p.GetOrdinal = [get = std::move(get)] { return static_cast<int64_t>(get() ? 1 : 0); };
    }
    if (set) {
        p.SetOrdinal = [set = std::move(set)](int64_t v) { set(v != 0); };
    }
    return AddProperty(std::move(p));
}

TPublishedProperty& TPublishedBase::AddEnumeration(std::string name, std::vector<std::string> valueNames,
                                                   std::function<int()> get, std::function<void(int)> set) {
    TPublishedProperty p;
    p.Name = std::move(name);
    p.Kind = TPropertyKind::Enumeration;
    p.ValueNames = std::move(valueNames);
    if (get) {
        p.GetOrdinal = [get = std::move(get)] { return static_cast<int64_t>(get()); };
    }
    if (set) {
        p.SetOrdinal = [set = std::move(set)](int64_t v) { set(static_cast<int>(v)); };
    }
    return AddProperty(std::move(p));
}

TPublishedProperty& TPublishedBase::AddFloat(std::string name, std::function<double()> get,
                                             std::function<void(double)> set) {
    TPublishedProperty p;
    p.Name = std::move(name);
    p.Kind = TPropertyKind::Float;
    p.GetFloat = std::move(get);
    p.SetFloat = std::move(set);
    return AddProperty(std::move(p));
}

TPublishedProperty& TPublishedBase::AddText(std::string name, std::function<std::string()> get,
                                            std::function<void(const std::string&)> set) {
    TPublishedProperty p;
    p.Name = std::move(name);
    p.Kind = TPropertyKind::Text;
    p.GetText = std::move(get);
    p.SetText = std::move(set);
    return AddProperty(std::move(p));
}

TPublishedProperty& TPublishedBase::AddSet(std::string name, std::vector<std::string> memberNames,
                                           std::function<uint64_t()> get, std::function<void(uint64_t)> set) {
    TPublishedProperty p;
    p.Name = std::move(name);
    p.Kind = TPropertyKind::Set;
    p.ValueNames = std::move(memberNames);
    if (get) {
        p.GetOrdinal = [get = std::move(get)] { return static_cast<int64_t>(get()); };
    }
    if (set) {
        p.SetOrdinal = [set = std::move(set)](int64_t v) { set(static_cast<uint64_t>(v)); };
    }
    return AddProperty(std::move(p));
}

TPublishedProperty& TPublishedBase::AddObject(std::string name, std::function<TPublishedObject*()> get) {
    TPublishedProperty p;
    p.Name = std::move(name);
    p.Kind = TPropertyKind::Object;
    p.GetObject = std::move(get);
    return AddProperty(std::move(p));
}

TPublishedProperty& TPublishedBase::AddStringList(std::string name, std::function<IPublishedStrings*()> get) {
    TPublishedProperty p;
    p.Name = std::move(name);
    p.Kind = TPropertyKind::StringList;
    p.GetStrings = std::move(get);
    return AddProperty(std::move(p));
}

TPublishedProperty& TPublishedBase::AddUnsupported(std::string name) {
    TPublishedProperty p;
    p.Name = std::move(name);
    p.Kind = TPropertyKind::Unsupported;
    return AddProperty(std::move(p));
}

std::string TPublishedStringList::Get(int index) const {
    if (index < 0 || index >= Count()) {
        throw Exception("List index out of bounds (" + std::to_string(index) + ")");
    }
    return items_[static_cast<size_t>(index)];
}

void TPublishedStringList::Put(int index, const std::string& text) {
    if (index < 0 || index >= Count()) {
        throw Exception("List index out of bounds (" + std::to_string(index) + ")");
    }
    items_[static_cast<size_t>(index)] = text;
}

} // namespace ludex
