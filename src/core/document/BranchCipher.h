#pragma once

#include "core/document/DomService.h"

#include <string_view>

namespace ludex {

// Encryption of branch elements in memory. A branch element is plain (no "encryption"), unlocked
// encrypted ("encryption" and "password": memo and sub-branches plain) or locked ("encryption"
// without "password": "memo" holds Base64 of the enciphered memo, the content is at most one text
// node, the Base64 payload of the enciphered sub-branches).
//
// Passwords and memos are UTF-8 in memory; they enter the cipher as bytes of the current code
// page (CurrentCodePage()). A character the code page cannot hold is an ECodePage error naming
// the code page, and nothing is changed. The payload's plain text is UTF-8 XML: the sub-branch
// elements, each followed by CR LF, as the document writer produces them.
//
// Every operation here works without recursion and either completes or changes nothing.

// Whether the password is the branch's: its check value equals the "encryption" attribute.
// Throws Exception("The node is not encrypted") when the element has no "encryption". A password
// that the code page cannot hold is not the branch's.
bool CheckBranchPassword(const TDomNode& element, std::string_view password);

// The password check value of a password given as UTF-8: the digest of its code-page bytes.
// Throws ECodePage when the code page cannot hold the password.
std::string BranchPasswordDigest(std::string_view password);

// Puts a branch under a password or takes it off. A non-empty password sets "password" and
// "encryption" (its check value): a plain branch becomes unlocked encrypted, and an unlocked one
// gets the new password. The empty password removes both: the branch becomes plain. Nothing is
// enciphered here. Throws Exception for a locked branch (its content would stay enciphered) and
// ECodePage for a password the code page cannot hold, changing nothing.
void SetBranchPassword(const TDomNode& element, std::string_view password);

// Locks the element and every unlocked encrypted branch inside it, innermost first: each such
// branch loses "password", its "memo" becomes Base64 of the enciphered memo, and its children
// (already locked where encrypted) are replaced by one text node with the Base64 payload. Plain
// branches and locked ones are left as they are. Everything is checked before the first change:
// a comment, processing instruction or character-data section inside a branch to be locked
// throws Exception("Unsupported NodeType") (it could never be unlocked again), a memo or password
// the code page cannot hold throws ECodePage, and text that is not UTF-8 throws the writer's
// conversion error; the tree is then unchanged.
void EncipherBranch(const TDomNode& element);

// Unlocks a locked branch under its password: "password" is set (appended when absent), "memo"
// is deciphered, and when the element has content its payload is deciphered, parsed and its
// elements and texts, in order, replace the content. Returns true when the content was replaced
// (the tree nodes under the branch must then be rebuilt from the element), false for a branch
// without payload.
//
// All-or-nothing: on any failure the branch is still locked exactly as before. Failures: not
// encrypted ("The node is not encrypted"), not locked, a wrong password, a Base64 text of the
// wrong length ("Uneven size in DecodeToStream."), content other than one text node, a deciphered
// memo with bytes the code page leaves undefined (ECodePage), a fragment that does not parse
// (EDomError), a fragment holding a node other than element or text ("Unsupported NodeType").
bool DecipherBranchElement(const TDomNode& element, std::string_view password);

} // namespace ludex
