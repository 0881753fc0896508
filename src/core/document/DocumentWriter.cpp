#include "core/document/DocumentWriter.h"

#include "core/base/FileIO.h"
#include "core/crypto/Cipher.h"
#include "core/crypto/Secret.h"
#include "core/crypto/StrongCipher.h"
#include "core/document/BranchCipher.h"
#include "core/document/WellFormed.h"
#include "core/document/XMLNodeAccess.h"
#include "core/text/CodePage.h"
#include "core/text/Utf8.h"
#include "core/text/Utf8Block.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace ludex {

namespace {

constexpr std::string_view kCrLf = "\r\n";

// The replacement of every byte that is escaped; an empty one for the bytes written as they are.
struct TEscape {
    char text[7]{};
    unsigned char length = 0;
};

constexpr std::array<TEscape, 256> MakeEscapeTable() {
    std::array<TEscape, 256> table{};
    auto set = [&](unsigned char b, std::string_view text) {
        for (size_t i = 0; i < text.size(); ++i) {
            table[b].text[i] = text[i];
        }
        table[b].length = static_cast<unsigned char>(text.size());
    };
    constexpr char kHex[] = "0123456789ABCDEF";
    for (unsigned b = 0; b < 0x20; ++b) {
        char ref[7] = {'&', '#', 'x', 0, 0, 0, 0};
        size_t n = 3;
        if (b >= 0x10) {
            ref[n++] = kHex[b >> 4];
        }
        ref[n++] = kHex[b & 0x0F];
        ref[n++] = ';';
        set(static_cast<unsigned char>(b), std::string_view(ref, n));
    }
    set('"', "&quot;");
    set('&', "&amp;");
    set('\'', "&apos;");
    set('<', "&lt;");
    set('>', "&gt;");
    return table;
}

constexpr std::array<TEscape, 256> kEscapes = MakeEscapeTable();

void AppendEscaped(std::string& out, std::string_view text) {
    size_t runStart = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const TEscape& e = kEscapes[static_cast<unsigned char>(text[i])];
        if (e.length == 0) {
            continue;
        }
        out.append(text.data() + runStart, i - runStart);
        out.append(e.text, e.length);
        runStart = i + 1;
    }
    out.append(text.data() + runStart, text.size() - runStart);
}

// Whether a byte below 0x80 stands for a character XML cannot hold even as a reference.
constexpr bool IsForbiddenControl(unsigned char b) {
    return b < 0x20 && b != '\t' && b != '\n' && b != '\r';
}

// Whether the valid UTF-8 sequence at `pos` is U+FFFE or U+FFFF, which XML cannot hold either.
bool IsNonCharacterAt(std::string_view text, size_t pos) {
    return pos + 2 < text.size() && static_cast<unsigned char>(text[pos]) == 0xEF &&
           static_cast<unsigned char>(text[pos + 1]) == 0xBF &&
           (static_cast<unsigned char>(text[pos + 2]) & 0xFE) == 0xBE;
}

// The refusal of a text whose character at `pos` a document cannot hold.
[[noreturn]] void FailUnstorable(std::string_view text, size_t pos) {
    throw Exception(UnstorableCharacterMessage(text, pos));
}

// The text escaped for an error message, every control byte included.
std::string ShownEscaped(std::string_view text) {
    std::string out;
    AppendEscaped(out, text);
    return out;
}

[[noreturn]] void FailConversion(std::string_view escaped) {
    std::string shown;
    size_t pos = 0;
    while (pos < escaped.size()) {
        char32_t cp;
        size_t start = pos;
        if (DecodeUtf8(escaped, pos, cp)) {
            shown.append(escaped.substr(start, pos - start));
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(escaped[pos]));
            shown += hex;
            ++pos;
        }
    }
    throw Exception("Can not convert " + shown + " to UTF-8");
}

// Whether a text being made may hold the plain text of an encrypted branch (a payload before it
// is enciphered): then no buffer it lets go of keeps any of it.
enum class TSecrecy : uint8_t { Open, Secret };

// A growing text written through a raw pointer. Pieces land in a staging buffer small enough to
// stay in the cache, which is appended to the text when full: the text grows without being
// zero-filled first and is written once, so its cost per byte does not depend on its size.
class TSink {
public:
    explicit TSink(TSecrecy secrecy = TSecrecy::Open) : secret_(secrecy == TSecrecy::Secret) {}
    TSink(TSink&&) noexcept = default;
    TSink& operator=(TSink&&) = delete;
    TSink(const TSink&) = delete;
    ~TSink() {
        if (secret_) {
            WipeMemory(stage_.get(), capacity_);
            WipeString(text_);
        }
    }

    // Makes room for `extra` more bytes at Tail().
    void Reserve(size_t extra) {
        if (length_ + extra > capacity_) {
            MakeRoom(extra);
        }
    }
    char* Tail() { return stage_.get() + length_; }
    void Advance(size_t n) { length_ += n; }
    void Put(std::string_view text) {
        if (text.empty()) {
            return; // an empty view may have no data pointer at all
        }
        Reserve(text.size());
        std::memcpy(Tail(), text.data(), text.size());
        length_ += text.size();
    }
    void Put(char c) {
        Reserve(1);
        stage_[length_++] = c;
    }
    // Makes room for a text of about `size` bytes in all, so that it is not moved as it grows.
    void ExpectSize(size_t size) { text_.reserve(size); }
    // The text; a secret one is the caller's to wipe.
    std::string Take() {
        Flush();
        return std::move(text_);
    }

private:
    static constexpr size_t kStage = 64 << 10;

    void Flush() {
        if (secret_ && text_.size() + length_ > text_.capacity()) {
            // Grown by hand, so that the old buffer is wiped before it is given back.
            std::string grown;
            grown.reserve(std::max(text_.capacity() * 2, text_.size() + length_));
            grown.append(text_);
            WipeString(text_);
            text_.swap(grown);
        }
        text_.append(stage_.get(), length_);
        if (secret_) {
            WipeMemory(stage_.get(), length_);
        }
        length_ = 0;
    }

    [[gnu::noinline]] void MakeRoom(size_t extra) {
        if (capacity_ >= kStage) {
            Flush();
            if (extra <= capacity_) {
                return;
            }
        }
        // A small text grows in the stage alone; a piece larger than the stage gets a stage of its own size.
        const size_t capacity =
            std::max(std::min(std::max(capacity_ * 2, size_t{256}), kStage), length_ + extra);
        auto stage = std::make_unique_for_overwrite<char[]>(capacity);
        if (length_ != 0) {
            std::memcpy(stage.get(), stage_.get(), length_);
        }
        if (secret_) {
            WipeMemory(stage_.get(), capacity_);
        }
        stage_ = std::move(stage);
        capacity_ = capacity;
    }

    bool secret_;
    std::string text_; // what has left the stage
    std::unique_ptr<char[]> stage_;
    size_t capacity_ = 0;
    size_t length_ = 0; // bytes in the stage
};

// Copies the 16 bytes at src to dst and returns how many of them are written as they are: the
// leading ASCII bytes that are neither control bytes nor markup characters and two-byte sequences
// (see PlainPrefix16). The rest of the copy is to be overwritten.
inline size_t CopyPlainPrefix16(char* dst, const char* src) {
#if defined(__SSE2__)
    const __m128i v = LoadBlock16(src);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), v);
    __m128i m = AsciiControls16(v);
    m = _mm_or_si128(m, _mm_cmpeq_epi8(v, _mm_set1_epi8('"')));
    m = _mm_or_si128(m, _mm_cmpeq_epi8(v, _mm_set1_epi8('&')));
    m = _mm_or_si128(m, _mm_cmpeq_epi8(v, _mm_set1_epi8('\'')));
    m = _mm_or_si128(m, _mm_cmpeq_epi8(v, _mm_set1_epi8('<')));
    m = _mm_or_si128(m, _mm_cmpeq_epi8(v, _mm_set1_epi8('>')));
    return PlainPrefix16(v, m);
#else
    for (int i = 0; i < 16; ++i) {
        auto b = static_cast<unsigned char>(src[i]);
        if (b >= 0x80 || kEscapes[b].length != 0) {
            return 0;
        }
    }
    std::memcpy(dst, src, 16);
    return 16;
#endif
}

// ToUTF8(EscapeText(text)) appended to out, in one pass: escapes markup characters and control
// bytes and checks that the rest is UTF-8. Nothing is appended when the text is not UTF-8.
void AppendValue(TSink& out, std::string_view text) {
    const size_t n = text.size();
    // An escape is at most 6 bytes for 1; the escape table is copied 7 bytes at a time.
    out.Reserve(n * 6 + 8);
    char* const begin = out.Tail();
    char* dst = begin;
    const char* src = text.data();
    size_t i = 0;
    while (i < n) {
        if (i + 16 <= n) {
            const size_t plain = CopyPlainPrefix16(dst, src + i);
            dst += plain;
            i += plain;
            if (plain == 16) {
                continue;
            }
        }
        // The next character needs care; near the end of the text, every character does.
        auto b = static_cast<unsigned char>(src[i]);
        if (b < 0x80) {
            const TEscape& e = kEscapes[b];
            if (IsForbiddenControl(b)) [[unlikely]] {
                FailUnstorable(text, i);
            }
            if (e.length != 0) {
                std::memcpy(dst, e.text, sizeof e.text);
                dst += e.length;
            } else {
                *dst++ = static_cast<char>(b);
            }
            ++i;
        } else if (IsTwoByteSequence(text, i)) {
            dst[0] = src[i];
            dst[1] = src[i + 1];
            dst += 2;
            i += 2;
        } else if (const size_t length = Utf8LongSequenceLength(text, i); length != 0) [[unlikely]] {
            // Three and four bytes: rare enough that the common cases above get the short path.
            if (IsNonCharacterAt(text, i)) {
                FailUnstorable(text, i);
            }
            for (const size_t stop = i + length; i < stop; ++i) {
                *dst++ = src[i];
            }
        } else {
            FailConversion(ShownEscaped(text));
        }
    }
    out.Advance(static_cast<size_t>(dst - begin));
}

// Writes one tree depth first with an explicit stack. Every enciphered element collects the
// text of its children in a buffer of its own, which becomes its payload when it is closed.
class TWriter {
public:
    // `expectedSize`: about how long the whole text will be, when that is known.
    explicit TWriter(std::string_view prefix, size_t expectedSize = 0, TSecrecy secrecy = TSecrecy::Open)
        : result_(secrecy) {
        if (expectedSize != 0) {
            result_.ExpectSize(expectedSize);
        }
        result_.Put(prefix);
    }

    std::string Write(const TDomNode& top) {
        Append(top);
        return result_.Take();
    }

    // Writes one more tree, and then `after`.
    void Append(const TDomNode& top, std::string_view after = {}) {
        WriteTree(top);
        result_.Put(after);
    }

    std::string Take() { return result_.Take(); }

private:
    void WriteTree(const TDomNode& top) {
        if (Open(top)) {
            while (!stack_.empty()) {
                Frame& frame = stack_.back();
                if (frame.next) {
                    TDomNode child = frame.next;
                    frame.next = child.NextSibling();
                    if (!Open(child)) {
                        Out().Put(kCrLf); // a leaf child is complete
                    }
                } else {
                    Close();
                }
            }
        }
    }

    struct Frame {
        TDomNode element;
        TDomNode next;                   // the next child to write
        TSecret password{};              // compatible: the password's code-page bytes
        const TStrongKey* key = nullptr; // strong: the branch's key
        TSealBinding binding{};          // strong: what memo and payload are sealed together under
        bool enciphered = false;         // the children go to a payload buffer
    };

    TSink& Out() { return payloads_.empty() ? result_ : payloads_.back(); }

    // Writes a leaf completely, or the start of an element with children and pushes its frame
    // (returns true then).
    bool Open(const TDomNode& node) {
        switch (node.Kind()) {
        case TDomNodeKind::Text:
            AppendValue(Out(), node.Text());
            return false;
        case TDomNodeKind::Element:
            break;
        default:
            throw Exception("Unsupported NodeType");
        }
        // One pass over the attributes; the first of a name counts, as for TAttributeAccess.
        node.ReadAttributes(attributes_);
        std::string_view password;
        std::string_view plainMemo;
        std::string_view encryption;
        bool seenPassword = false;
        bool seenMemo = false;
        bool seenEncryption = false;
        for (const auto& [name, value] : attributes_) {
            if (!seenPassword && name == PasswordAccess.Name()) {
                password = value;
                seenPassword = true;
            } else if (!seenMemo && name == MemoAccess.Name()) {
                plainMemo = value;
                seenMemo = true;
            } else if (!seenEncryption && name == EncryptionAccess.Name()) {
                encryption = value;
                seenEncryption = true;
            }
        }
        TSecret passwordBytes;
        const TStrongKey* key = nullptr;
        TSealBinding binding;
        std::string memo;         // the enciphered memo
        std::string sealingValue; // strong: the "encryption" value written, the newest version
        TDomNode first = node.FirstChild();
        if (!password.empty()) {
            if (IsStrongEncryptionValue(encryption)) {
                key = &RequireHeldBranchKey(node);
                if (!IsValidUtf8(plainMemo)) {
                    FailConversion(ShownEscaped(plainMemo));
                }
                if (ParseStrongHeader(encryption).version != kNewestStrongVersion) {
                    sealingValue = StrongValueInVersion(encryption, kNewestStrongVersion);
                }
                binding = NewSealBinding(kNewestStrongVersion, static_cast<bool>(first));
                memo = Base64Encode(key->Seal(plainMemo, TSealedPart::Memo, binding));
            } else {
                const TCodePage& page = BranchCodePage(node);
                passwordBytes = CompatiblePasswordBytes(password, page);
                memo = Base64Encode(
                    EncryptBranchText(CompatibleMemoBytes(node, page).View(), passwordBytes.View()));
            }
        }
        TSink& out = Out();
        out.Put('<');
        out.Put(node.Name());
        bool memoWritten = false;
        for (auto [name, value] : attributes_) {
            if (!password.empty()) {
                if (name == PasswordAccess.Name()) {
                    continue; // every "password", should a file carry two
                }
                if (name == MemoAccess.Name() && !memoWritten) {
                    value = memo;
                    memoWritten = true;
                } else if (name == EncryptionAccess.Name() && !sealingValue.empty()) {
                    value = sealingValue;
                }
            }
            out.Put(' ');
            out.Put(name);
            out.Put("=\"");
            AppendValue(out, value);
            out.Put('"');
        }
        if (!password.empty() && !memoWritten) {
            out.Put(' ');
            out.Put(MemoAccess.Name());
            out.Put("=\"");
            out.Put(memo);
            out.Put('"');
        }
        if (!first) {
            out.Put("/>");
            return false;
        }
        out.Put('>');
        if (password.empty()) {
            out.Put(kCrLf);
            stack_.push_back(Frame{node, first});
        } else {
            payloads_.emplace_back(TSecrecy::Secret);
            stack_.push_back(Frame{node, first, std::move(passwordBytes), key, std::move(binding), true});
        }
        return true;
    }

    void Close() {
        Frame frame = std::move(stack_.back());
        stack_.pop_back();
        if (frame.enciphered) {
            std::string plain = payloads_.back().Take();
            payloads_.pop_back();
            std::string sealed;
            try {
                sealed = frame.key != nullptr ? frame.key->Seal(plain, TSealedPart::Payload, frame.binding)
                                              : EncryptBranchText(plain, frame.password.View());
            } catch (...) {
                WipeString(plain);
                throw;
            }
            WipeString(plain);
            Out().Put(Base64Encode(sealed));
        }
        TSink& out = Out();
        out.Put("</");
        out.Put(frame.element.Name());
        out.Put('>');
        if (!stack_.empty()) {
            out.Put(kCrLf);
        }
    }

    TSink result_;
    std::vector<std::pair<std::string_view, std::string_view>> attributes_; // of the element being opened
    std::vector<TSink> payloads_;
    std::vector<Frame> stack_;
};

} // namespace

std::string DocumentToText(const TDomNode& root) {
    std::string declaration(kDocumentDeclaration);
    declaration += kCrLf;
    // A document is written at about the size it was loaded at. A text that outgrows the room
    // made would be moved once as a whole: leave an eighth more. Room never written costs only
    // address space.
    const size_t loaded = root.LoadedTextSize();
    return TWriter(declaration, loaded == 0 ? 0 : loaded + loaded / 8 + 4096).Write(root);
}

std::string ElementToText(const TDomNode& node) {
    return TWriter({}).Write(node);
}

std::string ChildrenToText(const TDomNode& element) {
    TWriter writer({}, 0, TSecrecy::Secret);
    for (TDomNode child = element.FirstChild(); child; child = child.NextSibling()) {
        writer.Append(child, kCrLf);
    }
    return writer.Take();
}

std::string EscapeText(std::string_view text) {
    for (size_t i = 0; i < text.size(); ++i) {
        if (IsForbiddenControl(static_cast<unsigned char>(text[i])) || IsNonCharacterAt(text, i)) {
            FailUnstorable(text, i);
        }
    }
    std::string out;
    out.reserve(text.size());
    AppendEscaped(out, text);
    return out;
}

std::string ToUTF8(std::string_view text) {
    if (!IsValidUtf8(text)) {
        FailConversion(text);
    }
    return std::string(text);
}

void WriteTextFile(const std::string& fileName, std::string_view text, const TSaveOptions& options) {
    WriteFileAtomically(fileName, text, options);
}

} // namespace ludex
