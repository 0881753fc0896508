#include "core/settings/RecentFiles.h"
#include "core/settings/PropertyBailee.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ludex {
namespace {

using Files = std::vector<std::string>;

TEST(RecentFiles, LatestFirstEachOnceAtMostTen) {
    TRecentFiles recent;
    for (const char* file : {"/a", "/b", "", "/c", "/a"}) {
        recent.Add(file);
    }
    EXPECT_EQ(recent.Files(), (Files{"/a", "/c", "/b"}));
    for (int i = 0; i < 12; ++i) {
        recent.Add("/f" + std::to_string(i));
    }
    ASSERT_EQ(recent.Files().size(), TRecentFiles::kCapacity);
    EXPECT_EQ(recent.Files().front(), "/f11");
    EXPECT_EQ(recent.Files().back(), "/f2");
    EXPECT_TRUE(recent.Remove("/f5"));
    EXPECT_FALSE(recent.Remove("/f5"));
    EXPECT_EQ(recent.Files().size(), TRecentFiles::kCapacity - 1);
}

TEST(RecentFiles, KeptInTheSettingsInOrder) {
    TPropertyBailee settings;
    settings.CreateEmpty("LudexSettings");
    TRecentFiles recent;
    for (const char* file : {"/z", "/y", "/x & \"q\""}) {
        recent.Add(file);
    }
    recent.Save(settings);
    recent.Save(settings); // a second save replaces, never appends
    TRecentFiles loaded;
    loaded.Load(settings);
    EXPECT_EQ(loaded.Files(), recent.Files());

    // Written by hand: empty names, repeats, other elements and entries beyond ten are skipped.
    settings.OpenPath("/recent");
    settings.Current()->GetChildNodes()->Clear();
    for (const char* name : {"/1", "", "/1", "/2", "/3", "/4", "/5", "/6", "/7", "/8", "/9", "/10", "/11"}) {
        settings.Current()->AddChild("file")->SetAttribute("name", name);
    }
    settings.Current()->AddChild("other")->SetAttribute("name", "/other");
    loaded.Load(settings);
    EXPECT_EQ(loaded.Files(), (Files{"/1", "/2", "/3", "/4", "/5", "/6", "/7", "/8", "/9", "/10"}));
}

} // namespace
} // namespace ludex
