#pragma once

#include "core/base/FileIO.h"
#include "core/document/DomService.h"

#include <string>
#include <string_view>

namespace ludex {

// The writer of document files. It fixes the byte form of a document: the declaration, CR LF,
// then the root element; CR LF after the start tag of an element with children and after every
// child; no indentation, no line break at the end. Attribute values always stand in quotation
// marks with exactly one blank before each attribute; an element without children is written as
// an empty-element tag.
//
// An unlocked encrypted branch (one with a non-empty "password") is written enciphered in its own
// scheme (BranchCipher.h): its "memo" as Base64 of the enciphered memo, no "password", and its
// children as one Base64 payload with no line break around it, whose plain text is the writer's
// own UTF-8 output of each child followed by CR LF. A compatible branch enciphers the memo's
// bytes in its code page under its password with a new salt; a strong one seals the UTF-8 memo
// and the payload together (version 2, a fresh identity) with the key held for it and new
// nonces, without deriving the key again, and writes a version-1 "encryption" value as version 2.
// The plain payload texts are made in buffers that are wiped before they are given back. A branch nested
// inside another one is enciphered under its own password or key first. The elements are never
// changed: in memory the branch stays unlocked, its attributes in place.
//
// The writer works without recursion, so any nesting depth is written.

// The XML declaration every document file starts with.
inline constexpr std::string_view kDocumentDeclaration = "<?xml version=\"1.0\" encoding=\"utf-8\"?>";

// The declaration, CR LF and ElementToText of the root element.
std::string DocumentToText(const TDomNode& root);

// The text of an element with its attributes and descendants, or of a text node. Throws
// Exception("Unsupported NodeType") for any other kind of node on the way, the errors of ToUTF8,
// EUnencipherable when a memo or password of an unlocked compatible branch cannot be turned into
// code-page bytes, and Exception when the key of an unlocked strong branch is not held. On
// failure nothing is changed.
std::string ElementToText(const TDomNode& node);

// The children of an element, each written by ElementToText and followed by CR LF: the plain
// text of an encrypted branch's payload. No buffer used on the way keeps any of it; the result is
// the caller's to wipe (WipeString).
std::string ChildrenToText(const TDomNode& element);

// Replaces the five markup characters by "&quot;", "&amp;", "&apos;", "&lt;" and "&gt;" and every
// byte 0x00 to 0x1F by "&#x" + its upper-case hexadecimal value + ";". Other bytes are unchanged.
std::string EscapeText(std::string_view text);

// In-memory text is UTF-8 already: returns it when it is valid UTF-8, otherwise throws
// Exception("Can not convert " + text + " to UTF-8") with the invalid bytes shown as \xNN.
std::string ToUTF8(std::string_view text);

// Replaces the file by the text's bytes atomically, as WriteFileAtomically does: the old file
// stays intact on any failure and keeps its permissions, and `options` says how many backups of
// it to keep. Throws EInOutError naming the file and the system's reason.
void WriteTextFile(const std::string& fileName, std::string_view text, const TSaveOptions& options = {});

} // namespace ludex
