#pragma once

#include "core/settings/Localer.h"
#include "core/settings/PublishedObject.h"

#include <QPointer>
#include <QWidget>

#include <map>
#include <memory>

class QAction;
class QGroupBox;

namespace ludex {

// The published properties of Qt objects, so that the settings and the language files apply to
// the real widgets by name:
//   every named object: Caption (an action's text, a menu's title, a label's or button's text, a
//     group box's title, a window's title), Hint (tool tip);
//   widgets: Left, Top, Width, Height, Font (an object: Name, Height, Size, Style, Color, Charset);
//   a group box of radio buttons: Items (the buttons' texts, in order);
//   a window: WindowState (wsNormal, wsMinimized, wsMaximized), and its restored rectangle.
// A window adds its own properties (word wrap, tool-bar bands) through TPublishedBase's builders.

// A widget's font as a published sub-object. Height is the character height in pixels as a
// negative number; Size the point size; Style a set of fsBold, fsItalic, fsUnderline, fsStrikeOut;
// Color the text colour as 0x00BBGGRR, or kThemeTextColor while it follows the theme; Charset a number kept
// for the settings file.
class TQtPublishedFont : public TPublishedBase {
public:
    explicit TQtPublishedFont(QWidget& widget);

private:
    QFont Font() const { return widget_ ? widget_->font() : QFont(); }
    void SetFont(const QFont& font);

    QPointer<QWidget> widget_;
    int charset_ = 1;          // the default character set
    bool colorChosen_ = false; // false: the text follows the theme's colour
};

// The "Color" value of a font whose text follows the theme (the system's window-text colour).
inline constexpr int32_t kThemeTextColor = static_cast<int32_t>(0x80000008U);

// One named Qt object (action, menu, widget) with the properties above that fit its kind.
class TQtPublishedComponent : public TPublishedBase {
public:
    explicit TQtPublishedComponent(QObject& object);
    std::string GetName() const override;

private:
    QPointer<QObject> object_;
    std::unique_ptr<TQtPublishedFont> font_;
    std::unique_ptr<IPublishedStrings> items_;
};

// A window: itself and every named object below it (widgets, actions, menus) as components, found
// by object name ignoring ASCII case. Component wrappers are made on first use and kept.
class TQtPublishedForm : public TPublishedBase {
public:
    explicit TQtPublishedForm(QWidget& window);
    TPublishedObject* FindComponent(std::string_view name) const override;
    std::string GetName() const override;

private:
    QPointer<QWidget> window_;
    std::unique_ptr<TQtPublishedFont> font_;
    mutable std::map<QObject*, std::unique_ptr<TQtPublishedComponent>> components_;
};

// A window that re-reads its texts after a language load: the localiser registers forms that are
// clients, so this wrapper passes Localize on to the window.
class TQtLocalizedForm : public TQtPublishedForm, public ILocalerClient {
public:
    TQtLocalizedForm(QWidget& window, ILocalerClient& client) : TQtPublishedForm(window), client_(&client) {}
    void Localize(TLocaler& localer) override { client_->Localize(localer); }

private:
    ILocalerClient* client_;
};

// Adds to `object` the properties every Qt object of its kind has (Caption, Hint, geometry, Font,
// Items); used by the component and form wrappers.
void AddQtProperties(TPublishedBase& published, QObject& object, std::unique_ptr<TQtPublishedFont>& font,
                     std::unique_ptr<IPublishedStrings>* items);

// A window's WindowState and restored rectangle.
void AddWindowProperties(TPublishedBase& published, QWidget& window);

} // namespace ludex
