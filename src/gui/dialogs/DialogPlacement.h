#pragma once

#include "core/settings/PropertyBailee.h"

#include <QObject>
#include <QRect>

#include <optional>
#include <string>

class QDialog;

namespace ludex {

// Where a modeless dialog opens, and keeping that place: the first time beside its owner window
// (to the right, else to the left, where the screen has room; else at the owner's right edge), so
// that it does not cover what the user works on; afterwards where the user last left it, with
// the size it last had, in this run and the next ones (the settings path names it). A place that
// lies on no screen any more is given up for the first rule.
class TDialogPlacement : public QObject, public IPropertyBaileeClient {
public:
    TDialogPlacement(QDialog& dialog, std::string settingsPath);
    ~TDialogPlacement() override;

    // Puts the dialog in its place; called before each showing.
    void Place();

    void LoadSettings(TPropertyBailee& bailee) override;
    void SaveSettings(TPropertyBailee& bailee) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The frame's corner and the inner size, as the dialog has them now.
    QRect Current() const;
    void PlaceBesideOwner();

    QDialog& dialog_;
    std::string settingsPath_;
    std::optional<QRect> kept_; // the frame's top left and the inner size
};

} // namespace ludex
