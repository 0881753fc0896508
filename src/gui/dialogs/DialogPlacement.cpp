#include "gui/dialogs/DialogPlacement.h"

#include "core/settings/LX_PropertyBailee.h"
#include "gui/app/LudexUnit.h"

#include <QDialog>
#include <QEvent>
#include <QGuiApplication>
#include <QScreen>

#include <algorithm>
#include <charconv>

namespace ludex {

namespace {

// Room between the owner window and the dialog beside it.
constexpr int kGap = 8;

std::optional<int> ParseInteger(const std::string& text) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

} // namespace

TDialogPlacement::TDialogPlacement(QDialog& dialog, std::string settingsPath)
    : dialog_(dialog), settingsPath_(std::move(settingsPath)) {
    dialog_.installEventFilter(this);
    SettingsBailee().AddClient(*this);
}

TDialogPlacement::~TDialogPlacement() {
    SettingsBailee().RemoveClient(*this);
}

QRect TDialogPlacement::Current() const {
    return {dialog_.pos(), dialog_.size()};
}

bool TDialogPlacement::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &dialog_ && event->type() == QEvent::Hide && dialog_.isWindow()) {
        kept_ = Current();
    }
    return QObject::eventFilter(watched, event);
}

void TDialogPlacement::Place() {
    if (dialog_.isVisible()) {
        return; // it stays where it is
    }
    if (kept_) {
        // Kept only while some screen still shows its title bar.
        const QPoint corner = kept_->topLeft() + QPoint(kGap, kGap);
        for (const QScreen* screen : QGuiApplication::screens()) {
            if (screen->availableGeometry().contains(corner)) {
                dialog_.resize(kept_->size());
                dialog_.move(kept_->topLeft());
                return;
            }
        }
    }
    PlaceBesideOwner();
}

void TDialogPlacement::PlaceBesideOwner() {
    const QWidget* owner = dialog_.parentWidget() != nullptr ? dialog_.parentWidget()->window() : nullptr;
    if (owner == nullptr || !owner->isVisible() || owner->screen() == nullptr) {
        return; // the window system places it
    }
    const QRect screen = owner->screen()->availableGeometry();
    const QRect ownerFrame = owner->frameGeometry();
    // The dialog's frame is not made before its first showing: the owner's borders stand for it.
    const QSize border = owner->frameGeometry().size() - owner->size();
    const QSize inner = dialog_.size().expandedTo(dialog_.minimumSizeHint());
    const QSize frame = inner + border;
    int left = 0;
    if (ownerFrame.right() + kGap + frame.width() <= screen.right()) {
        left = ownerFrame.right() + kGap;
    } else if (ownerFrame.left() - kGap - frame.width() >= screen.left()) {
        left = ownerFrame.left() - kGap - frame.width();
    } else {
        left = std::max(screen.left(), std::min(ownerFrame.right(), screen.right()) - frame.width());
    }
    const int top =
        std::clamp(ownerFrame.top(), screen.top(), std::max(screen.top(), screen.bottom() - frame.height()));
    dialog_.move(left, top);
}

void TDialogPlacement::LoadSettings(TPropertyBailee& bailee) {
    kept_.reset();
    bailee.ForcePath(settingsPath_);
    const std::optional<int> left = ParseInteger(bailee.ReadValue("Left"));
    const std::optional<int> top = ParseInteger(bailee.ReadValue("Top"));
    const std::optional<int> width = ParseInteger(bailee.ReadValue("Width"));
    const std::optional<int> height = ParseInteger(bailee.ReadValue("Height"));
    if (left && top && width && height && *width > 0 && *height > 0) {
        kept_ = QRect(*left, *top, *width, *height);
    }
}

void TDialogPlacement::SaveSettings(TPropertyBailee& bailee) {
    if (RestartOnExit) {
        return; // Reset To Default: the next run places it anew
    }
    const std::optional<QRect> place = dialog_.isVisible() ? std::optional<QRect>(Current()) : kept_;
    if (!place) {
        return;
    }
    bailee.ForcePath(settingsPath_);
    bailee.WriteValue("Left", std::to_string(place->left()));
    bailee.WriteValue("Top", std::to_string(place->top()));
    bailee.WriteValue("Width", std::to_string(place->width()));
    bailee.WriteValue("Height", std::to_string(place->height()));
}

} // namespace ludex
