#pragma once

#include "core/base/Exception.h"
#include "core/settings/PublishedObject.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ludex {

// A property that cannot be read or written by name: the object publishes no property of that
// name ("Bad property: " + name), or its kind has no text form ("Unsupported property: " + name),
// or it cannot be written ("Read-only property: " + name). Loading settings and language files
// skips such properties; saving reports them.
class EInvalidProperty : public Exception {
public:
    using Exception::Exception;
};

// A text that does not convert to the property's kind: not a number, not a value of the
// enumeration, not a member of the set. Deliberately not an EInvalidProperty: a bad value in a
// settings or language file is reported, never silently skipped.
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

// Whether the object publishes a property of that name (ASCII case ignored).
bool HasProperty(const TPublishedObject& object, std::string_view name);

// The property's value in its text form:
//   Integer      decimal, "-" when negative;
//   Enumeration  the value's name ("True", "wsMaximized"); a value outside the names reads as
//                its number, which does not convert back;
//   Float        general form with up to 15 significant digits ("0.1", "1e+20");
//   Text         the text itself;
//   Set          member names joined by "," in member order, no brackets; "" for the empty set.
// Throws EInvalidProperty "Bad property: " + name when there is no such property and
// "Unsupported property: " + name for the Object, StringList and Unsupported kinds.
std::string GetPropertyAsString(const TPublishedObject& object, std::string_view name);

// Converts `value` from the text form above and writes it. Enumeration and set names match
// ignoring ASCII case; a set may be written inside "[" "]"; numbers may carry surrounding spaces,
// and integers may also be written in hexadecimal with "$" or "0x". The same EInvalidProperty
// errors as GetPropertyAsString, plus "Read-only property: " + name when the property has no
// setter. A text that does not convert throws EConvertError and writes nothing.
void SetPropertyFromString(TPublishedObject& object, std::string_view name, std::string_view value);

// The object behind an Object property (null when the object is absent).
// Throws EInvalidProperty "Bad property: " + name when there is no such property and
// "Unsupported property: " + name when the property is not object-valued.
TPublishedObject* GetObjectProperty(const TPublishedObject& object, std::string_view name);

// The text forms on their own, for reuse. `propertyName` only serves the error message.
std::string IntegerToText(int64_t value);
int32_t TextToInteger(std::string_view text, std::string_view propertyName);
std::string FloatToText(double value);
double TextToFloat(std::string_view text, std::string_view propertyName);
std::string EnumerationToText(int64_t ordinal, const std::vector<std::string>& valueNames);
int TextToEnumeration(std::string_view text, const std::vector<std::string>& valueNames,
                      std::string_view propertyName);
std::string SetToText(uint64_t members, const std::vector<std::string>& memberNames);
uint64_t TextToSet(std::string_view text, const std::vector<std::string>& memberNames,
                   std::string_view propertyName);

} // namespace ludex
