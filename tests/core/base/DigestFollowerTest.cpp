// The digest of bytes that arrive piece by piece, worked out on a thread of its own, is the digest
// of the whole, however the bytes arrive, move or are left unfinished.
#include "core/base/DigestFollower.h"
#include "core/base/FileIO.h"
#include "core/base/FileSystem.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

using namespace ludex;

namespace {

std::string Bytes(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>((i * 2654435761u) >> 13);
    }
    return bytes;
}

// Every size around the one from which a thread follows, in pieces of every kind, with the bytes
// moved to another buffer (after a pause) partway or not at all.
TEST(DigestFollowerTest, TheDigestOfThePiecesIsTheDigestOfTheWhole) {
    const size_t beside = TDigestFollower::kBeside;
    for (const size_t size :
         {size_t{0}, size_t{1}, size_t{4096}, beside - 1, beside, beside + 1, 3 * beside + 17}) {
        for (const size_t piece : {size_t{1} << 16, size_t{1000003}, size_t{1} << 22}) {
            for (const bool move : {false, true}) {
                SCOPED_TRACE(::testing::Message()
                             << size << " bytes in pieces of " << piece << (move ? ", moved" : ""));
                const std::string whole = Bytes(size);
                std::string buffer;
                buffer.reserve(size);
                TDigestFollower follower;
                bool moved = false;
                while (buffer.size() < size) {
                    buffer.append(whole, buffer.size(), std::min(piece, size - buffer.size()));
                    follower.Received(buffer);
                    if (move && !moved && buffer.size() >= size / 2) {
                        follower.Pause();
                        std::string elsewhere = buffer;
                        elsewhere.reserve(size + 1);
                        buffer.assign(size_t{1} << 10, 'x'); // the old place no longer holds them
                        buffer.swap(elsewhere);
                        moved = true;
                    }
                }
                EXPECT_EQ(follower.Finish(buffer), DigestOf(whole));
            }
        }
    }
}

// A follower given up before it finishes stops, whatever it still had to digest; the bytes may
// go right after.
TEST(DigestFollowerTest, AFollowerLeftUnfinishedStopsBeforeTheBytesGo) {
    for (const size_t size : {size_t{10}, TDigestFollower::kBeside * 6}) {
        auto bytes = std::make_unique<std::string>(Bytes(size));
        {
            TDigestFollower follower;
            follower.Received(*bytes);
        }
        bytes.reset();
    }
}

// A file that grows while it is read: the bytes move to a larger buffer only after the reader of
// them was told, and all of them arrive.
TEST(DigestFollowerTest, AFileThatGrowsWhileReadIsToldBeforeItsBytesMove) {
    ludex::testing::TempDir dir;
    const std::string first = Bytes(TDigestFollower::kBeside * 2);
    const std::string more = Bytes(TDigestFollower::kBeside + 5);
    const std::string file = dir.Write("growing.ldx", first);
    std::string bytes;
    TDigestFollower follower;
    const char* place = nullptr;
    bool told = false;
    int moves = 0;
    bool grown = false;
    TFileStatus status;
    ReadFileInto(
        file, bytes,
        [&](std::string_view soFar) {
            if (place != nullptr && soFar.data() != place) {
                EXPECT_TRUE(told) << "moved without a word";
                ++moves;
            }
            place = soFar.data();
            told = false;
            follower.Received(soFar);
            if (!grown) {
                std::ofstream(file, std::ios::binary | std::ios::app) << more;
                grown = true;
            }
        },
        [&] {
            follower.Pause();
            told = true;
        },
        status);
    EXPECT_EQ(bytes, first + more);
    EXPECT_GE(moves, 1);
    EXPECT_EQ(follower.Finish(bytes), DigestOf(first + more));
}

} // namespace
