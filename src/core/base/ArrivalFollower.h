#pragma once

#include "core/base/NonCopyable.h"

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string_view>
#include <thread>

namespace ludex {

// The thread of a piece of work that follows bytes as they arrive (a file as it is read): it
// knows where the bytes are and how many have arrived, starts once they reach `beside`, and is
// woken when more arrive and when it is to end. A derived class gives the thread's work (Follow)
// and calls Stop in its own destructor, before its members go.
class TArrivalFollower : TNonCopyable {
protected:
    explicit TArrivalFollower(size_t beside) : beside_(beside) {}
    virtual ~TArrivalFollower();

    // All bytes received so far, the earlier ones unchanged and in the same place as before:
    // recorded, the thread started once they reach `beside`, and woken. False when the thread
    // is needed but cannot be had.
    bool Arrived(std::string_view soFar);
    // Tells the thread to end (`ending_`, with `also` done under the lock first), and waits for it.
    template <class TAlso>
    void Stop(TAlso&& also) {
        {
            const std::lock_guard lock(mutex_);
            ending_ = true;
            also();
        }
        more_.notify_one();
        if (thread_.joinable()) {
            thread_.join();
        }
    }
    void Stop() {
        Stop([] {});
    }
    bool Running() const { return thread_.joinable(); }
    // The thread's work: it waits on `more_` under `mutex_` for bytes or the end.
    virtual void Follow() = 0;

    std::mutex mutex_;
    std::condition_variable more_; // more bytes, or the end
    const char* base_ = nullptr;
    size_t available_ = 0;
    bool ending_ = false;

private:
    size_t beside_;
    std::thread thread_;
};

} // namespace ludex
