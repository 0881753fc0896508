#pragma once

#include "core/base/ArrivalFollower.h"
#include "core/document/WellFormed.h"

#include <cstddef>
#include <optional>
#include <string_view>

namespace ludex {

// Checks that a text is well-formed (FindMalformation) while it arrives piece by piece (a file as
// it is read), on a thread of its own, so that when the read ends only the rest is left to check.
// The thread starts once the text reaches kBeside; a shorter text is checked by Finish alone, as
// is any text when no thread can be had.
//
// The bytes received stay where they are and unchanged until Abandon or Finish returns, or the
// follower is destroyed: declare it after whatever holds them, so that whatever is thrown, its
// thread is done before they go.
class TCheckFollower final : TArrivalFollower {
public:
    static constexpr size_t kBeside = size_t{1} << 20;

    // `watched` as in TAttributeWatch; it must outlive the follower.
    explicit TCheckFollower(std::string_view watched);
    ~TCheckFollower() override;

    // All bytes received so far, the earlier ones unchanged and in the same place as before.
    void Received(std::string_view soFar);
    // The bytes received are about to move, or are not the text after all: the follower stops
    // following them, and Finish checks the whole text. Before any byte is received, nothing
    // happens.
    void Abandon();
    // What FindMalformation gives for `all`, which begins with every byte received, where they
    // were last received (unless Abandon was called). Call it once.
    std::optional<TMalformation> Finish(std::string_view all, bool* referenceInText = nullptr,
                                        TAttributeWatch* watch = nullptr);

private:
    void Follow() override;

    TGrowingCheck check_;
    size_t offered_ = 0; // the bytes the check was last given
    bool abandoned_ = false;
};

} // namespace ludex
