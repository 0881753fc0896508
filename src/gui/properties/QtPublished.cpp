#include "gui/properties/QtPublished.h"

#include <QAbstractButton>
#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QRadioButton>

#include <cmath>

namespace ludex {

namespace {

std::string ToStd(const QString& s) {
    return s.toStdString();
}
QString ToQt(const std::string& s) {
    return QString::fromStdString(s);
}

int32_t ColorToInteger(const QColor& c) {
    return static_cast<int32_t>(static_cast<uint32_t>(c.red()) | (static_cast<uint32_t>(c.green()) << 8) |
                                (static_cast<uint32_t>(c.blue()) << 16));
}

QColor IntegerToColor(int32_t value) {
    const auto v = static_cast<uint32_t>(value);
    return QColor(static_cast<int>(v & 0xFF), static_cast<int>((v >> 8) & 0xFF),
                  static_cast<int>((v >> 16) & 0xFF));
}

// The texts of the radio buttons of a group box, in layout order.
class TRadioItems : public IPublishedStrings {
public:
    explicit TRadioItems(QGroupBox& box) : box_(&box) {}
    int Count() const override { return static_cast<int>(Buttons().size()); }
    std::string Get(int index) const override { return ToStd(Buttons().at(index)->text()); }
    void Put(int index, const std::string& text) override { Buttons().at(index)->setText(ToQt(text)); }
    void Clear() override {
        for (QRadioButton* b : Buttons()) {
            b->hide();
            b->setText(QString());
        }
        added_ = 0;
    }
    // Items beyond the buttons the designer made cannot be shown; they are ignored.
    void Add(const std::string& text) override {
        auto buttons = Buttons();
        if (added_ < buttons.size()) {
            buttons[added_]->setText(ToQt(text));
            buttons[added_]->show();
        }
        ++added_;
    }

private:
    QList<QRadioButton*> Buttons() const {
        return box_ ? box_->findChildren<QRadioButton*>() : QList<QRadioButton*>();
    }
    QPointer<QGroupBox> box_;
    qsizetype added_ = 0;
};

std::function<std::string()> CaptionGetter(QObject& object) {
    QPointer<QObject> o(&object);
    return [o]() -> std::string {
        if (!o) {
            return {};
        }
        if (auto* a = qobject_cast<QAction*>(o)) {
            return ToStd(a->text());
        }
        if (auto* m = qobject_cast<QMenu*>(o)) {
            return ToStd(m->title());
        }
        if (auto* l = qobject_cast<QLabel*>(o)) {
            return ToStd(l->text());
        }
        if (auto* b = qobject_cast<QAbstractButton*>(o)) {
            return ToStd(b->text());
        }
        if (auto* g = qobject_cast<QGroupBox*>(o)) {
            return ToStd(g->title());
        }
        if (auto* w = qobject_cast<QWidget*>(o)) {
            return ToStd(w->windowTitle());
        }
        return {};
    };
}

std::function<void(const std::string&)> CaptionSetter(QObject& object) {
    QPointer<QObject> o(&object);
    return [o](const std::string& text) {
        if (!o) {
            return;
        }
        const QString t = ToQt(text);
        if (auto* a = qobject_cast<QAction*>(o)) {
            a->setText(t);
        } else if (auto* m = qobject_cast<QMenu*>(o)) {
            m->setTitle(t);
        } else if (auto* l = qobject_cast<QLabel*>(o)) {
            l->setText(t);
        } else if (auto* b = qobject_cast<QAbstractButton*>(o)) {
            b->setText(t);
        } else if (auto* g = qobject_cast<QGroupBox*>(o)) {
            g->setTitle(t);
        } else if (auto* w = qobject_cast<QWidget*>(o)) {
            w->setWindowTitle(t);
        }
    };
}

} // namespace

TQtPublishedFont::TQtPublishedFont(QWidget& widget) : widget_(&widget) {
    AddText(
        "Name", [this] { return ToStd(Font().family()); },
        [this](const std::string& name) {
            QFont f = Font();
            f.setFamily(ToQt(name));
            SetFont(f);
        });
    AddInteger(
        "Height",
        [this] {
            const QFont f = Font();
            if (f.pixelSize() > 0) {
                return -f.pixelSize();
            }
            const double dpi = widget_ ? widget_->logicalDpiY() : 96.0;
            return -static_cast<int32_t>(std::lround(f.pointSizeF() * dpi / 72.0));
        },
        [this](int32_t height) {
            if (height == 0) {
                return;
            }
            QFont f = Font();
            f.setPixelSize(height < 0 ? -height : height);
            SetFont(f);
        });
    AddInteger(
        "Size",
        [this] {
            const QFont f = Font();
            if (f.pointSizeF() > 0) {
                return static_cast<int32_t>(std::lround(f.pointSizeF()));
            }
            const double dpi = widget_ ? widget_->logicalDpiY() : 96.0;
            return static_cast<int32_t>(std::lround(f.pixelSize() * 72.0 / dpi));
        },
        [this](int32_t size) {
            if (size <= 0) {
                return;
            }
            QFont f = Font();
            f.setPointSize(size);
            SetFont(f);
        });
    AddSet(
        "Style", {"fsBold", "fsItalic", "fsUnderline", "fsStrikeOut"},
        [this] {
            const QFont f = Font();
            return static_cast<uint64_t>((f.bold() ? 1 : 0) | (f.italic() ? 2 : 0) | (f.underline() ? 4 : 0) |
                                         (f.strikeOut() ? 8 : 0));
        },
        [this](uint64_t style) {
            QFont f = Font();
            f.setBold((style & 1) != 0);
            f.setItalic((style & 2) != 0);
            f.setUnderline((style & 4) != 0);
            f.setStrikeOut((style & 8) != 0);
            SetFont(f);
        });
    // Only a colour that was set is saved: the theme's current colour saved as a fixed one would
    // stay after the theme changes (light grey text on white after a dark session).
    AddInteger(
        "Color",
        [this] {
            return widget_ && colorChosen_ ? ColorToInteger(widget_->palette().color(QPalette::Text))
                                           : kThemeTextColor;
        },
        [this](int32_t color) {
            if (!widget_) {
                return;
            }
            if (color < 0) { // a system colour: the theme's
                if (colorChosen_) {
                    widget_->setPalette(QPalette());
                    colorChosen_ = false;
                }
                return;
            }
            QPalette palette = widget_->palette();
            palette.setColor(QPalette::Text, IntegerToColor(color));
            palette.setColor(QPalette::WindowText, IntegerToColor(color));
            widget_->setPalette(palette);
            colorChosen_ = true;
        });
    AddInteger(
        "Charset", [this] { return charset_; }, [this](int32_t charset) { charset_ = charset; });
}

void TQtPublishedFont::SetFont(const QFont& font) {
    if (widget_) {
        widget_->setFont(font);
    }
}

void AddQtProperties(TPublishedBase& published, QObject& object, std::unique_ptr<TQtPublishedFont>& font,
                     std::unique_ptr<IPublishedStrings>* items) {
    published.AddText("Caption", CaptionGetter(object), CaptionSetter(object));
    QPointer<QObject> o(&object);
    published.AddText(
        "Hint",
        [o]() -> std::string {
            if (auto* a = qobject_cast<QAction*>(o)) {
                return ToStd(a->toolTip());
            }
            if (auto* w = qobject_cast<QWidget*>(o)) {
                return ToStd(w->toolTip());
            }
            return {};
        },
        [o](const std::string& text) {
            if (auto* a = qobject_cast<QAction*>(o)) {
                a->setToolTip(ToQt(text));
            } else if (auto* w = qobject_cast<QWidget*>(o)) {
                w->setToolTip(ToQt(text));
            }
        });
    auto* widget = qobject_cast<QWidget*>(&object);
    if (widget == nullptr) {
        return;
    }
    QPointer<QWidget> w(widget);
    // What a screen reader calls a control that has no caption of its own (the tree, the memo).
    published.AddText(
        "AccessibleName", [w] { return w ? ToStd(w->accessibleName()) : std::string(); },
        [w](const std::string& text) {
            if (w) {
                w->setAccessibleName(ToQt(text));
            }
        });
    published.AddInteger(
        "Left", [w] { return w ? w->x() : 0; },
        [w](int32_t v) {
            if (w) {
                w->move(v, w->y());
            }
        });
    published.AddInteger(
        "Top", [w] { return w ? w->y() : 0; },
        [w](int32_t v) {
            if (w) {
                w->move(w->x(), v);
            }
        });
    published.AddInteger(
        "Width", [w] { return w ? w->width() : 0; },
        [w](int32_t v) {
            if (w && v > 0) {
                w->resize(v, w->height());
            }
        });
    published.AddInteger(
        "Height", [w] { return w ? w->height() : 0; },
        [w](int32_t v) {
            if (w && v > 0) {
                w->resize(w->width(), v);
            }
        });
    font = std::make_unique<TQtPublishedFont>(*widget);
    TQtPublishedFont* fontObject = font.get();
    published.AddObject("Font", [fontObject]() -> TPublishedObject* { return fontObject; });
    if (auto* box = qobject_cast<QGroupBox*>(widget); box != nullptr && items != nullptr) {
        *items = std::make_unique<TRadioItems>(*box);
        IPublishedStrings* list = items->get();
        published.AddStringList("Items", [list] { return list; });
    }
}

void AddWindowProperties(TPublishedBase& published, QWidget& window) {
    QPointer<QWidget> w(&window);
    // A window is never kept minimised: minimised at the next start it could not be found at
    // all without a task bar. A minimised window reads as the state it had before (maximised or
    // normal), and "wsMinimized" in a settings file of an earlier version opens it normal.
    published.AddEnumeration(
        "WindowState", {"wsNormal", "wsMinimized", "wsMaximized"},
        [w] { return w && (w->windowState() & Qt::WindowMaximized) ? 2 : 0; },
        [w](int state) {
            if (!w) {
                return;
            }
            Qt::WindowStates states = w->windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized);
            if (state == 2) {
                states |= Qt::WindowMaximized;
            }
            w->setWindowState(states);
        });
    // Left and Top are the frame's corner (what move() takes and x() and y() give), Width and
    // Height the inner area's size (what resize() takes): mixing the two would move the window by
    // its title bar and border at every start.
    published.SetRestoredBounds([w] {
        TWindowBounds bounds;
        if (!w) {
            return bounds;
        }
        const bool normal = !(w->windowState() & (Qt::WindowMaximized | Qt::WindowMinimized));
        QRect inner = normal ? w->geometry() : w->normalGeometry();
        if (!inner.isValid()) {
            inner = w->geometry();
        }
        const QPoint frameOffset = w->geometry().topLeft() - w->frameGeometry().topLeft();
        bounds.Left = inner.left() - frameOffset.x();
        bounds.Top = inner.top() - frameOffset.y();
        bounds.Right = bounds.Left + inner.width();
        bounds.Bottom = bounds.Top + inner.height();
        return bounds;
    });
}

TQtPublishedComponent::TQtPublishedComponent(QObject& object) : object_(&object) {
    AddQtProperties(*this, object, font_, &items_);
}

std::string TQtPublishedComponent::GetName() const {
    return object_ ? ToStd(object_->objectName()) : std::string();
}

TQtPublishedForm::TQtPublishedForm(QWidget& window) : window_(&window) {
    AddQtProperties(*this, window, font_, nullptr);
    AddWindowProperties(*this, window);
}

std::string TQtPublishedForm::GetName() const {
    return window_ ? ToStd(window_->objectName()) : std::string();
}

TPublishedObject* TQtPublishedForm::FindComponent(std::string_view name) const {
    if (!window_ || name.empty()) {
        return nullptr;
    }
    // Components the window registered itself (wrappers with extra properties) come first.
    if (TPublishedObject* own = TPublishedBase::FindComponent(name)) {
        return own;
    }
    for (QObject* object : window_->findChildren<QObject*>()) {
        if (!SameTextAscii(ToStd(object->objectName()), name)) {
            continue;
        }
        auto& wrapper = components_[object];
        if (!wrapper || wrapper->GetName().empty()) {
            wrapper = std::make_unique<TQtPublishedComponent>(*object);
        }
        return wrapper.get();
    }
    return nullptr;
}

} // namespace ludex
