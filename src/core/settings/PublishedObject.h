#pragma once

#include "core/base/NonCopyable.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ludex {

// ASCII-only case-insensitive equality: 'a'-'z' equal 'A'-'Z', every other byte compares by value.
// Component and property names are matched this way.
bool SameTextAscii(std::string_view a, std::string_view b) noexcept;

// How a published property travels as text (PropertyFunctions.h does the conversions).
enum class TPropertyKind : uint8_t {
    Integer,     // 32-bit signed number: positions, sizes, colours, character sets
    Enumeration, // one value out of a list of names; Boolean is the enumeration (False, True)
    Float,       // double
    Text,        // UTF-8 text
    Set,         // a subset of a list of member names, held as a bit mask (bit i = member i)
    Object,      // a reference to another published object (a font, a tool-bar band wrapper)
    StringList,  // an ordered list of texts (the items of a list or of a radio group)
    Unsupported, // published, but not convertible to text
};

// A window's restored (normal) rectangle in pixels, also while it is maximised or minimised.
struct TWindowBounds {
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;
};

// Item-level access to a list of texts, so that replacing the texts of existing items can keep
// whatever else the owner attaches to them (a selection, a check mark).
class IPublishedStrings {
public:
    virtual ~IPublishedStrings() = default;
    virtual int Count() const = 0;
    virtual std::string Get(int index) const = 0;
    virtual void Put(int index, const std::string& text) = 0;
    virtual void Clear() = 0;
    virtual void Add(const std::string& text) = 0;
};

class TPublishedObject;

// One entry of a property table. Only the accessors that fit the kind are used:
//   Integer, Enumeration, Set: GetOrdinal / SetOrdinal (the number, the value's index in
//                              ValueNames, the member bit mask);
//   Float: GetFloat / SetFloat;  Text: GetText / SetText;
//   Object: GetObject (may return null when the object is absent);
//   StringList: GetStrings (may return null).
// A property without a setter is read-only. ValueNames lists an enumeration's value names by
// ordinal, or a set's member names by bit.
struct TPublishedProperty {
    std::string Name;
    TPropertyKind Kind = TPropertyKind::Unsupported;
    std::vector<std::string> ValueNames;
    std::function<int64_t()> GetOrdinal;
    std::function<void(int64_t)> SetOrdinal;
    std::function<double()> GetFloat;
    std::function<void(double)> SetFloat;
    std::function<std::string()> GetText;
    std::function<void(const std::string&)> SetText;
    std::function<TPublishedObject*()> GetObject;
    std::function<IPublishedStrings*()> GetStrings;
};

// An object whose properties are persisted and translated by name: a window, a component of a
// window, or a sub-object reached through an object-valued property (a font).
//
// The settings store and the localiser only ever hold these for the duration of one call; the
// objects themselves belong to whoever created them (for windows: the GUI toolkit).
class TPublishedObject {
public:
    virtual ~TPublishedObject() = default;

    // The object's name: a window's or component's name; empty for sub-objects.
    virtual std::string GetName() const = 0;

    // The component owned by this object (a window's own components) whose name equals `name`
    // ignoring ASCII case; null when there is none. Objects that own nothing return null.
    virtual TPublishedObject* FindComponent(std::string_view name) const = 0;

    // The published property whose name equals `name` ignoring ASCII case; null when none.
    virtual const TPublishedProperty* FindProperty(std::string_view name) const = 0;

    // A window answers its restored rectangle; any other object answers nothing. Only windows
    // have their placement saved.
    virtual std::optional<TWindowBounds> RestoredBounds() const = 0;
};

// A reusable base that keeps a property table built from lambdas and a list of owned components
// (held by non-owning pointers; each must outlive this object). Implementing a published object
// over a toolkit object is then a matter of adding one entry per property in its constructor:
//
//     AddBoolean("MemoWordWrap", [this] { return wrap(); }, [this](bool v) { setWrap(v); });
//
// Names are kept as given; lookups ignore ASCII case. The first entry of a name wins.
class TPublishedBase : public TPublishedObject, private TNonCopyable {
public:
    explicit TPublishedBase(std::string name = {});
    // The table's accessors usually capture `this`: a copy would act on the original.

    std::string GetName() const override { return name_; }
    void SetName(std::string name) { name_ = std::move(name); }

    TPublishedObject* FindComponent(std::string_view name) const override;
    const TPublishedProperty* FindProperty(std::string_view name) const override;
    std::optional<TWindowBounds> RestoredBounds() const override;

    // Registers an owned component; lookups see its current name.
    void AddComponent(TPublishedObject& component);

    // Marks this object as a window whose restored rectangle comes from `bounds`.
    void SetRestoredBounds(std::function<TWindowBounds()> bounds);

    // Property-table builders. A null setter makes the property read-only; a null getter is a
    // programming error refused with ludex::Exception (also by AddProperty).
    TPublishedProperty& AddInteger(std::string name, std::function<int32_t()> get,
                                   std::function<void(int32_t)> set);
    TPublishedProperty& AddBoolean(std::string name, std::function<bool()> get,
                                   std::function<void(bool)> set);
    TPublishedProperty& AddEnumeration(std::string name, std::vector<std::string> valueNames,
                                       std::function<int()> get, std::function<void(int)> set);
    TPublishedProperty& AddFloat(std::string name, std::function<double()> get,
                                 std::function<void(double)> set);
    TPublishedProperty& AddText(std::string name, std::function<std::string()> get,
                                std::function<void(const std::string&)> set);
    TPublishedProperty& AddSet(std::string name, std::vector<std::string> memberNames,
                               std::function<uint64_t()> get, std::function<void(uint64_t)> set);
    TPublishedProperty& AddObject(std::string name, std::function<TPublishedObject*()> get);
    TPublishedProperty& AddStringList(std::string name, std::function<IPublishedStrings*()> get);
    TPublishedProperty& AddUnsupported(std::string name);

    // Adds a prepared entry as it is.
    TPublishedProperty& AddProperty(TPublishedProperty property);

private:
    std::string name_;
    std::deque<TPublishedProperty> properties_; // deque: entries never move once added
    std::vector<TPublishedObject*> components_;
    std::function<TWindowBounds()> restoredBounds_;
};

// A plain list of texts.
class TPublishedStringList : public IPublishedStrings {
public:
    TPublishedStringList() = default;
    explicit TPublishedStringList(std::vector<std::string> items) : items_(std::move(items)) {}

    int Count() const override { return static_cast<int>(items_.size()); }
    std::string Get(int index) const override;
    void Put(int index, const std::string& text) override;
    void Clear() override { items_.clear(); }
    void Add(const std::string& text) override { items_.push_back(text); }

    const std::vector<std::string>& Items() const { return items_; }

private:
    std::vector<std::string> items_;
};

} // namespace ludex
