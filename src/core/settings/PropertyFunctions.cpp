#include "core/settings/PropertyFunctions.h"

#include <charconv>
#include <limits>
#include <string>
#include <system_error>

namespace ludex {

namespace {

std::string_view TrimSpaces(std::string_view text) {
    const auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && isSpace(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isSpace(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

std::string Quoted(std::string_view text) {
    return "'" + std::string(text) + "'";
}

const TPublishedProperty& RequireProperty(const TPublishedObject& object, std::string_view name) {
    const TPublishedProperty* property = object.FindProperty(name);
    if (property == nullptr) {
        throw EInvalidProperty("Bad property: " + std::string(name));
    }
    return *property;
}

[[noreturn]] void ThrowUnsupported(std::string_view name) {
    throw EInvalidProperty("Unsupported property: " + std::string(name));
}

} // namespace

std::string IntegerToText(int64_t value) {
    return std::to_string(value);
}

int32_t TextToInteger(std::string_view text, std::string_view propertyName) {
    const std::string_view trimmed = TrimSpaces(text);
    std::string_view digits = trimmed;
    bool negative = false;
    if (!digits.empty() && (digits.front() == '-' || digits.front() == '+')) {
        negative = digits.front() == '-';
        digits.remove_prefix(1);
    }
    int base = 10;
    if (!digits.empty() && digits.front() == '$') {
        base = 16;
        digits.remove_prefix(1);
    } else if (digits.size() > 1 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        base = 16;
        digits.remove_prefix(2);
    }
    // from_chars accepts no sign of its own here, so "--1" and "+-1" fail as they should.
    uint64_t magnitude = 0;
    const char* end = digits.data() + digits.size();
    const auto [ptr, ec] = std::from_chars(digits.data(), end, magnitude, base);
    const bool parsed =
        !digits.empty() && digits.front() != '-' && digits.front() != '+' && ec == std::errc() && ptr == end;
    if (!parsed) {
        throw EConvertError(Quoted(text) + " is not a valid integer value for property " +
                            std::string(propertyName));
    }
    int64_t value = 0;
    if (base == 16) {
        // Hexadecimal spells the 32 bits as they are, so colours such as $FFFFFFFF read back.
        if (magnitude > 0xFFFFFFFFu) {
            throw EConvertError(Quoted(text) + " is out of the integer range of property " +
                                std::string(propertyName));
        }
        value = static_cast<int32_t>(static_cast<uint32_t>(magnitude));
        if (negative) {
            value = -value;
        }
    } else {
        constexpr uint64_t kMaxNegative = uint64_t{1} << 31;
        if (magnitude > (negative ? kMaxNegative : kMaxNegative - 1)) {
            throw EConvertError(Quoted(text) + " is out of the integer range of property " +
                                std::string(propertyName));
        }
        value = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
    }
    if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max()) {
        throw EConvertError(Quoted(text) + " is out of the integer range of property " +
                            std::string(propertyName));
    }
    return static_cast<int32_t>(value);
}

std::string FloatToText(double value) {
    // to_chars does not depend on the process locale (a GUI toolkit may have set a locale whose
    // decimal separator is a comma).
    char buffer[64];
    const auto [ptr, ec] =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15);
    if (ec != std::errc()) {
        return "0";
    }
    return std::string(buffer, ptr);
}

double TextToFloat(std::string_view text, std::string_view propertyName) {
    std::string_view trimmed = TrimSpaces(text);
    if (!trimmed.empty() && trimmed.front() == '+') {
        trimmed.remove_prefix(1);
    }
    double value = 0;
    const char* end = trimmed.data() + trimmed.size();
    const auto [ptr, ec] = std::from_chars(trimmed.data(), end, value, std::chars_format::general);
    if (trimmed.empty() || ec != std::errc() || ptr != end) {
        throw EConvertError(Quoted(text) + " is not a valid floating point value for property " +
                            std::string(propertyName));
    }
    return value;
}

std::string EnumerationToText(int64_t ordinal, const std::vector<std::string>& valueNames) {
    if (ordinal < 0 || static_cast<uint64_t>(ordinal) >= valueNames.size()) {
        // A value outside the names cannot be written back by name; its number is the only
        // honest text.
        return std::to_string(ordinal);
    }
    return valueNames[static_cast<size_t>(ordinal)];
}

int TextToEnumeration(std::string_view text, const std::vector<std::string>& valueNames,
                      std::string_view propertyName) {
    const std::string_view trimmed = TrimSpaces(text);
    for (size_t i = 0; i < valueNames.size(); ++i) {
        if (SameTextAscii(valueNames[i], trimmed)) {
            return static_cast<int>(i);
        }
    }
    throw EConvertError(Quoted(text) + " is not a valid value of property " + std::string(propertyName));
}

std::string SetToText(uint64_t members, const std::vector<std::string>& memberNames) {
    std::string result;
    for (size_t i = 0; i < memberNames.size() && i < 64; ++i) {
        if ((members >> i) & 1u) {
            if (!result.empty()) {
                result += ',';
            }
            result += memberNames[i];
        }
    }
    return result;
}

uint64_t TextToSet(std::string_view text, const std::vector<std::string>& memberNames,
                   std::string_view propertyName) {
    std::string_view rest = TrimSpaces(text);
    if (!rest.empty() && rest.front() == '[') {
        if (rest.back() != ']') {
            throw EConvertError(Quoted(text) + " is not a valid set value for property " +
                                std::string(propertyName));
        }
        rest = TrimSpaces(rest.substr(1, rest.size() - 2));
    }
    uint64_t members = 0;
    if (rest.empty()) {
        return members;
    }
    while (true) {
        const size_t comma = rest.find(',');
        const std::string_view name = TrimSpaces(rest.substr(0, comma));
        bool found = false;
        for (size_t i = 0; i < memberNames.size() && i < 64; ++i) {
            if (SameTextAscii(memberNames[i], name)) {
                members |= uint64_t{1} << i;
                found = true;
                break;
            }
        }
        if (!found) {
            throw EConvertError("Invalid set element " + Quoted(name) + " for property " +
                                std::string(propertyName));
        }
        if (comma == std::string_view::npos) {
            break;
        }
        rest = rest.substr(comma + 1);
    }
    return members;
}

bool HasProperty(const TPublishedObject& object, std::string_view name) {
    return object.FindProperty(name) != nullptr;
}

std::string GetPropertyAsString(const TPublishedObject& object, std::string_view name) {
    const TPublishedProperty& property = RequireProperty(object, name);
    // An entry built by hand may lack the getter of its kind: it cannot be read as text.
    const bool readable = property.Kind == TPropertyKind::Float  ? static_cast<bool>(property.GetFloat)
                          : property.Kind == TPropertyKind::Text ? static_cast<bool>(property.GetText)
                                                                 : static_cast<bool>(property.GetOrdinal);
    if (!readable) {
        ThrowUnsupported(name);
    }
    switch (property.Kind) {
    case TPropertyKind::Integer:
        return IntegerToText(property.GetOrdinal());
    case TPropertyKind::Enumeration:
        return EnumerationToText(property.GetOrdinal(), property.ValueNames);
    case TPropertyKind::Float:
        return FloatToText(property.GetFloat());
    case TPropertyKind::Text:
        return property.GetText();
    case TPropertyKind::Set:
        return SetToText(static_cast<uint64_t>(property.GetOrdinal()), property.ValueNames);
    case TPropertyKind::Object:
    case TPropertyKind::StringList:
    case TPropertyKind::Unsupported:
        break;
    }
    ThrowUnsupported(name);
}

void SetPropertyFromString(TPublishedObject& object, std::string_view name, std::string_view value) {
    const TPublishedProperty& property = RequireProperty(object, name);
    const auto requireSetter = [&](bool present) {
        if (!present) {
            throw EInvalidProperty("Read-only property: " + std::string(name));
        }
    };
    switch (property.Kind) {
    case TPropertyKind::Integer:
        requireSetter(static_cast<bool>(property.SetOrdinal));
        property.SetOrdinal(TextToInteger(value, property.Name));
        return;
    case TPropertyKind::Enumeration:
        requireSetter(static_cast<bool>(property.SetOrdinal));
        property.SetOrdinal(TextToEnumeration(value, property.ValueNames, property.Name));
        return;
    case TPropertyKind::Float:
        requireSetter(static_cast<bool>(property.SetFloat));
        property.SetFloat(TextToFloat(value, property.Name));
        return;
    case TPropertyKind::Text:
        requireSetter(static_cast<bool>(property.SetText));
        property.SetText(std::string(value));
        return;
    case TPropertyKind::Set:
        requireSetter(static_cast<bool>(property.SetOrdinal));
        property.SetOrdinal(static_cast<int64_t>(TextToSet(value, property.ValueNames, property.Name)));
        return;
    case TPropertyKind::Object:
    case TPropertyKind::StringList:
    case TPropertyKind::Unsupported:
        break;
    }
    ThrowUnsupported(name);
}

TPublishedObject* GetObjectProperty(const TPublishedObject& object, std::string_view name) {
    const TPublishedProperty& property = RequireProperty(object, name);
    if (property.Kind != TPropertyKind::Object || !property.GetObject) {
        ThrowUnsupported(name);
    }
    return property.GetObject();
}

} // namespace ludex
