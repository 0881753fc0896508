#include "core/base/DigestFollower.h"

#include "core/base/Exception.h"

#include <openssl/evp.h>

#include <algorithm>
#include <system_error>

namespace ludex {

namespace {

[[noreturn]] void DigestFailed() {
    throw Exception("The SHA-256 digest cannot be computed.");
}

} // namespace

struct TDigestFollower::TContext {
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> md{EVP_MD_CTX_new(), EVP_MD_CTX_free};
};

TDigestFollower::TDigestFollower() : context_(std::make_unique<TContext>()) {
    if (!context_->md || EVP_DigestInit_ex(context_->md.get(), EVP_sha256(), nullptr) != 1) {
        DigestFailed();
    }
}

TDigestFollower::~TDigestFollower() {
    Stop(true);
}

void TDigestFollower::Received(std::string_view soFar) {
    {
        const std::lock_guard lock(mutex_);
        base_ = soFar.data();
        available_ = soFar.size();
    }
    if (!thread_.joinable() && soFar.size() >= kBeside) {
        try {
            thread_ = std::thread([this] { Follow(); });
        } catch (const std::system_error&) {
            // No thread to be had: Finish digests everything.
        }
    }
    more_.notify_one();
}

void TDigestFollower::Pause() {
    std::unique_lock lock(mutex_);
    if (thread_.joinable()) {
        done_.wait(lock, [&] { return digested_ == available_ || failed_; });
    }
}

TFileDigest TDigestFollower::Finish(std::string_view all) {
    Received(all);
    Stop(false);
    // What the thread did not digest (all of it, when there was none) is digested here.
    if (!failed_ && digested_ < all.size()) {
        failed_ = EVP_DigestUpdate(context_->md.get(), all.data() + digested_, all.size() - digested_) != 1;
        digested_ = all.size();
    }
    TFileDigest digest{};
    unsigned int length = 0;
    if (failed_ || EVP_DigestFinal_ex(context_->md.get(), digest.data(), &length) != 1 ||
        length != digest.size()) {
        DigestFailed();
    }
    return digest;
}

void TDigestFollower::Stop(bool abandon) {
    {
        const std::lock_guard lock(mutex_);
        ending_ = true;
        abandoned_ = abandoned_ || abandon;
    }
    more_.notify_one();
    if (thread_.joinable()) {
        thread_.join();
    }
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
        const bool ok = EVP_DigestUpdate(context_->md.get(), from, count) == 1;
        lock.lock();
        digested_ += count;
        failed_ = failed_ || !ok;
        done_.notify_all();
    }
    done_.notify_all();
}

} // namespace ludex
