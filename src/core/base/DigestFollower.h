#pragma once

#include "core/base/ArrivalFollower.h"
#include "core/base/FileIdentity.h"

#include <condition_variable>
#include <cstddef>
#include <string_view>

namespace ludex {

// Works out the digest (DigestOf) of bytes that arrive piece by piece (a file as it is read) on a
// thread of its own, so that the reader, and whoever looks at the bytes after it, do not wait
// for it. The thread starts once the bytes reach kBeside; fewer are digested by Finish itself,
// as is everything when no thread can be had.
//
// The bytes received stay where they are and unchanged until Pause or Finish returns, or the
// follower is destroyed: declare it after whatever holds them, so that whatever is thrown, its
// thread is done before they go.
class TDigestFollower final : TArrivalFollower {
public:
    static constexpr size_t kBeside = size_t{1} << 20;

    TDigestFollower();
    ~TDigestFollower() override;

    // All bytes received so far, the earlier ones unchanged and in the same place as before,
    // unless Pause was called since (then the same bytes may stand elsewhere).
    void Received(std::string_view soFar);
    // Returns once every byte received is digested: the bytes may move then.
    void Pause();
    // The digest of `all`, which holds every byte received, where they were last received, and
    // any more after them. Throws Exception when the digest cannot be computed. Call it once.
    TFileDigest Finish(std::string_view all);

private:
    void Follow() override;
    // Ends the thread once it has digested what it was given (or at once when `abandon`).
    void Stop(bool abandon);

    TDigestStream stream_;
    std::condition_variable done_; // every byte given is digested
    size_t digested_ = 0;
    bool abandoned_ = false;
    bool failed_ = false;
};

} // namespace ludex
