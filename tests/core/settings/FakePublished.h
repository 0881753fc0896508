#pragma once

// Small published objects standing in for windows and their components in the tests.

#include "core/settings/PublishedObject.h"

#include <memory>
#include <string>
#include <vector>

namespace ludex::testing {

enum TFontStyle : uint64_t { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };

struct FakeFont : TPublishedBase {
    std::string name = "Sans";
    int32_t height = 13;
    uint64_t style = 0;
    int32_t color = 0;
    int32_t charset = 1;

    FakeFont() {
        AddText(
            "Name", [this] { return name; }, [this](const std::string& v) { name = v; });
        AddInteger(
            "Height", [this] { return height; }, [this](int32_t v) { height = v; });
        AddSet(
            "Style", {"fsBold", "fsItalic", "fsUnderline", "fsStrikeOut"}, [this] { return style; },
            [this](uint64_t v) { style = v; });
        AddInteger(
            "Color", [this] { return color; }, [this](int32_t v) { color = v; });
        AddInteger(
            "Charset", [this] { return charset; }, [this](int32_t v) { charset = v; });
    }
};

// A control with a caption, a hint, a width, a font, a list of items and a few other kinds.
struct FakeControl : TPublishedBase {
    std::string caption;
    std::string hint;
    std::string accessibleName;
    int32_t width = 100;
    bool visible = true;
    double ratio = 0.5;
    FakeFont font;
    TPublishedStringList items;
    int selected = -1; // kept by item-wise replacement, reset by Clear

    explicit FakeControl(std::string name) : TPublishedBase(std::move(name)) {
        AddText(
            "Caption", [this] { return caption; }, [this](const std::string& v) { caption = v; });
        AddText(
            "Hint", [this] { return hint; }, [this](const std::string& v) { hint = v; });
        AddText(
            "AccessibleName", [this] { return accessibleName; },
            [this](const std::string& v) { accessibleName = v; });
        AddInteger(
            "Width", [this] { return width; }, [this](int32_t v) { width = v; });
        AddBoolean(
            "Visible", [this] { return visible; }, [this](bool v) { visible = v; });
        AddFloat(
            "Ratio", [this] { return ratio; }, [this](double v) { ratio = v; });
        AddInteger(
            "Tag", [] { return 7; }, nullptr); // read-only
        AddObject("Font", [this] { return &font; });
        AddObject("PopupMenu", [] { return nullptr; }); // an absent object
        AddStringList("Items", [this] { return &items; });
        AddUnsupported("OnClick");
    }
};

// A tool-bar band wrapper: its position in the bar.
struct FakeBand : TPublishedBase {
    int32_t index;
    explicit FakeBand(int32_t i) : index(i) {
        AddInteger(
            "Index", [this] { return index; }, [this](int32_t v) { index = v; });
    }
};

// A main window with the components the stencil names, a few menu items and buttons.
struct FakeMainWindow : TPublishedBase {
    TWindowBounds bounds{10, 20, 610, 420};
    int windowState = 0;
    bool memoWordWrap = true;
    bool askBeforeRemove = true;
    std::string caption = "Ludex";
    FakeBand mainMenuBand{0};
    FakeBand commonToolsBand{1};
    FakeControl treeView{"TreeView"};
    FakeControl memo{"Memo"};
    FakeControl panelTreeView{"Panel_TreeView"};
    std::vector<std::unique_ptr<FakeControl>> others;

    explicit FakeMainWindow(std::string name = "Form_Ludex") : TPublishedBase(std::move(name)) {
        SetRestoredBounds([this] { return bounds; });
        AddText(
            "Caption", [this] { return caption; }, [this](const std::string& v) { caption = v; });
        AddEnumeration(
            "WindowState", {"wsNormal", "wsMinimized", "wsMaximized"}, [this] { return windowState; },
            [this](int v) { windowState = v; });
        AddInteger(
            "Left", [this] { return bounds.Left; },
            [this](int32_t v) {
                bounds.Right += v - bounds.Left;
                bounds.Left = v;
            });
        AddInteger(
            "Top", [this] { return bounds.Top; },
            [this](int32_t v) {
                bounds.Bottom += v - bounds.Top;
                bounds.Top = v;
            });
        AddInteger(
            "Width", [this] { return bounds.Right - bounds.Left; },
            [this](int32_t v) { bounds.Right = bounds.Left + v; });
        AddInteger(
            "Height", [this] { return bounds.Bottom - bounds.Top; },
            [this](int32_t v) { bounds.Bottom = bounds.Top + v; });
        AddBoolean(
            "MemoWordWrap", [this] { return memoWordWrap; }, [this](bool v) { memoWordWrap = v; });
        AddBoolean(
            "AskBeforeRemove", [this] { return askBeforeRemove; }, [this](bool v) { askBeforeRemove = v; });
        AddObject("MainMenuCoolBand", [this] { return &mainMenuBand; });
        AddObject("CommonToolsCoolBand", [this] { return &commonToolsBand; });
        AddComponent(treeView);
        AddComponent(memo);
        AddComponent(panelTreeView);
    }

    // Adds a control (a menu item, a button, a label) and returns it.
    FakeControl& Add(const std::string& name) {
        others.push_back(std::make_unique<FakeControl>(name));
        AddComponent(*others.back());
        return *others.back();
    }
};

} // namespace ludex::testing
