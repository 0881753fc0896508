#pragma once

#include "core/crypto/StrongCipher.h"
#include "core/document/DomService.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace ludex {

// The keys of unlocked branches of the strong scheme. Such a branch keeps its derived key here,
// in guarded memory, and carries in its in-memory "password" attribute only a token that names
// the key; the password itself is not kept. Saving, locking and copying therefore never derive
// a key again.
//
// A copy of an unlocked branch (copy, paste, cut between documents) carries the token with it
// and uses the same key, which is right: the key belongs to the branch's "encryption" value, and
// the copy has the same value. A key is given up, and its memory wiped, once no unlocked branch
// of any live document names it: after locking, taking a password off, and when a document is
// destroyed.
//
// A token is honoured only on a branch whose "encryption" value is the one the key was derived
// for, so a "password" attribute smuggled into a file cannot borrow the key of another branch.

// Keeps the key of an unlocked branch with that "encryption" value; returns the token for its
// "password" attribute.
std::string HoldBranchKey(TStrongKey key, std::string_view encryptionValue);

// The key that `token` names for a branch with that "encryption" value, or nullptr.
const TStrongKey* HeldBranchKey(std::string_view token, std::string_view encryptionValue);
// The key of an unlocked strong branch, or nullptr.
const TStrongKey* HeldBranchKey(const TDomNode& element);

// Whether a "password" value is a key token rather than a password.
bool IsBranchKeyToken(std::string_view value);

// Gives up every key that no unlocked element of a live document names.
void ForgetUnusedBranchKeys() noexcept;

// How many keys are held.
size_t HeldBranchKeyCount();

} // namespace ludex
