#include "core/document/CheckFollower.h"

#include <algorithm>
#include <mutex>

namespace ludex {

namespace {
// The least the text grows by before the check looks at it again: each look seeks the last tag
// that has arrived, and a look costs a thread's wake-up.
constexpr size_t kLeastStep = size_t{256} << 10;
// The most it takes at once, so that Finish, which waits for the step under way, waits little.
constexpr size_t kMostStep = size_t{4} << 20;
} // namespace

TCheckFollower::TCheckFollower(std::string_view watched) : TArrivalFollower(kBeside), check_(watched) {}

TCheckFollower::~TCheckFollower() {
    Stop();
}

void TCheckFollower::Received(std::string_view soFar) {
    {
        const std::lock_guard lock(mutex_);
        if (abandoned_) {
            return;
        }
    }
    if (!Arrived(soFar)) {
        Abandon(); // no thread to be had: Finish checks everything
    }
}

void TCheckFollower::Abandon() {
    {
        const std::lock_guard lock(mutex_);
        if (available_ == 0) {
            return; // nothing received yet: nothing to forget
        }
        abandoned_ = true;
    }
    Stop();
    check_.Drop();
}

std::optional<TMalformation> TCheckFollower::Finish(std::string_view all, bool* referenceInText,
                                                    TAttributeWatch* watch) {
    Stop();
    return check_.Finish(all, referenceInText, watch);
}

void TCheckFollower::Follow() {
    std::unique_lock lock(mutex_);
    while (true) {
        more_.wait(lock, [&] { return available_ >= offered_ + kLeastStep || ending_; });
        // What arrives after the read has ended is checked by Finish, on both cores.
        if (ending_) {
            break;
        }
        offered_ = std::min(available_, offered_ + kMostStep);
        const std::string_view arrived(base_, offered_);
        lock.unlock();
        const bool following = check_.Advance(arrived);
        lock.lock();
        if (!following) {
            break;
        }
    }
}

} // namespace ludex
