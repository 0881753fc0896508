#pragma once

#include "core/document/DomService.h"

#include <string>
#include <string_view>

namespace ludex {

// Access to one attribute of branch elements by its name. The four branch attributes are read
// and written only through the shared instances below; the attribute name never changes.
class TAttributeAccess {
public:
    constexpr explicit TAttributeAccess(const char* name) : name_(name) {}

    std::string_view Name() const { return name_; }

    // The attribute's value; the empty text when the element does not carry it.
    std::string Read(const TDomNode& element) const { return element.GetAttribute(name_); }
    // Creates the attribute (last among the element's attributes) or replaces its value in place.
    void Write(const TDomNode& element, std::string_view value) const { element.SetAttribute(name_, value); }
    // Whether the element carries the attribute; an empty value counts as present.
    bool Exists(const TDomNode& element) const { return element.HasAttribute(name_); }
    // Removes the attribute; nothing happens when it is absent.
    void Delete(const TDomNode& element) const { element.RemoveAttribute(name_); }

private:
    const char* name_;
};

// The shared instances, constant-initialised before any code runs.
inline constexpr TAttributeAccess TitleAccess{"title"};
inline constexpr TAttributeAccess MemoAccess{"memo"};
// The password of an unlocked encrypted branch; in memory only, never written to a file. For a
// branch of the strong scheme it holds not the password but the token of its key in memory
// (BranchKeys.h).
inline constexpr TAttributeAccess PasswordAccess{"password"};
// The password check value; its presence makes a branch encrypted.
inline constexpr TAttributeAccess EncryptionAccess{"encryption"};
// The code page a branch of the compatible scheme was enciphered in, recorded when the program
// encrypts it, so that it deciphers the same under any "CodePage" setting. Branches written by
// earlier versions lack it and follow the setting.
inline constexpr TAttributeAccess CodePageAccess{"codepage"};

// The element name of every branch the program creates.
inline constexpr std::string_view kBranchElementName = "note";

// Appends a new "note" element without attributes as the last child of the parent and returns it.
TDomNode AddBranchElement(const TDomNode& parent);

// The element carries "encryption".
bool IsBranchEncrypted(const TDomNode& element);

// The element carries "encryption" and no "password": its memo and sub-branches are cipher text.
bool IsBranchLocked(const TDomNode& element);

} // namespace ludex
