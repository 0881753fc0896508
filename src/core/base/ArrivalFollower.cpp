#include "core/base/ArrivalFollower.h"

#include <system_error>

namespace ludex {

TArrivalFollower::~TArrivalFollower() {
    // The derived class has stopped the thread already; this only makes sure of it.
    Stop();
}

bool TArrivalFollower::Arrived(std::string_view soFar) {
    {
        const std::lock_guard lock(mutex_);
        base_ = soFar.data();
        available_ = soFar.size();
    }
    if (!thread_.joinable() && soFar.size() >= beside_) {
        try {
            thread_ = std::thread([this] { Follow(); });
        } catch (const std::system_error&) {
            return false;
        }
    }
    more_.notify_one();
    return true;
}

} // namespace ludex
