#include "core/base/DigestFollower.h"

#include "core/base/Exception.h"

#include <algorithm>
#include <system_error>

namespace ludex {

TDigestFollower::TDigestFollower() : TArrivalFollower(kBeside) {}

TDigestFollower::~TDigestFollower() {
    Stop(true);
}

void TDigestFollower::Received(std::string_view soFar) {
    // Without a thread, Finish digests everything.
    (void)Arrived(soFar);
}

void TDigestFollower::Pause() {
    std::unique_lock lock(mutex_);
    if (Running()) {
        done_.wait(lock, [&] { return digested_ == available_ || failed_; });
    }
}

TFileDigest TDigestFollower::Finish(std::string_view all) {
    Received(all);
    Stop(false);
    // What the thread did not digest (all of it, when there was none) is digested here.
    if (failed_) {
        throw Exception("The digest of the file cannot be computed.");
    }
    stream_.Add(all.substr(digested_));
    digested_ = all.size();
    return stream_.Result();
}

void TDigestFollower::Stop(bool abandon) {
    TArrivalFollower::Stop([&] { abandoned_ = abandoned_ || abandon; });
}

void TDigestFollower::Follow() {
    // The thread takes whatever has arrived since it last looked.
    std::unique_lock lock(mutex_);
    while (true) {
        more_.wait(lock, [&] { return available_ > digested_ || ending_; });
        if (abandoned_ || failed_ || (ending_ && available_ == digested_)) {
            break;
        }
        // A few pieces at most, so that an abandoned digest ends soon.
        constexpr size_t kMostAtOnce = size_t{4} << 20;
        const char* from = base_ + digested_;
        const size_t count = std::min(available_ - digested_, kMostAtOnce);
        lock.unlock();
        bool ok = true;
        try {
            stream_.Add(std::string_view(from, count));
        } catch (const Exception&) {
            ok = false;
        }
        lock.lock();
        digested_ += count;
        failed_ = failed_ || !ok;
        done_.notify_all();
    }
    done_.notify_all();
}

} // namespace ludex
