#pragma once

namespace ludex {

// A base for objects that others refer to by address (documents whose node handles stay attached,
// stores with registered clients, installed signal handlers, open converters): deriving from it
// forbids copying and moving, so that no second object claims what the first one owns.
class TNonCopyable {
public:
    TNonCopyable(const TNonCopyable&) = delete;
    TNonCopyable& operator=(const TNonCopyable&) = delete;

protected:
    TNonCopyable() = default;
    ~TNonCopyable() = default;
};

} // namespace ludex
