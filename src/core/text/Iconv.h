#pragma once

#include "core/base/NonCopyable.h"

#include <iconv.h>

namespace ludex {

// An iconv conversion descriptor, closed when the object goes. Check Valid() after construction:
// an encoding the system converter does not know gives an invalid descriptor.
class TIconv : private TNonCopyable {
public:
    TIconv(const char* to, const char* from) : handle_(iconv_open(to, from)) {}
    ~TIconv() {
        if (Valid()) {
            iconv_close(handle_);
        }
    }
    bool Valid() const { return handle_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t Get() const { return handle_; }

private:
    iconv_t handle_;
};

} // namespace ludex
