#pragma once

#include "core/settings/Localer.h"

#include <QDialog>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QFormLayout;
class QPushButton;

namespace ludex {

class TQtLocalizedForm;

// Settings > Preferences: one row per setting, each bound to the setting's getter and setter.
// A change is applied as soon as it is made (and reported through the `changed` callback, so that
// the settings file is written); Close only closes. Opening the dialog reads every value afresh,
// so that changes made elsewhere (the Settings menu) show.
//
// Rows are added by the code that owns the settings; a new check box is one AddCheck call. Every
// row's widgets are named, so the language files give them their texts.
class TForm_Preferences : public QDialog, public ILocalerClient {
    Q_OBJECT

public:
    explicit TForm_Preferences(QWidget* parent, std::function<void()> changed);
    ~TForm_Preferences() override;

    // A whole number from `least` to `most`, with its label `Label_<name>` and a spin box
    // `SpinBox_<name>`.
    void AddNumber(const std::string& name, const QString& label, int least, int most,
                   std::function<int()> get, std::function<void(int)> set);
    // One of `items` (by index) in a combo box `ComboBox_<name>` with its label `Label_<name>`.
    // The items are data, not language texts (code-page names).
    void AddChoice(const std::string& name, const QString& label, const std::vector<std::string>& items,
                   std::function<int()> get, std::function<void(int)> set);
    // One of the options of a group of radio buttons `RadioGroup_<name>` (its Items are the
    // language file's).
    void AddOptions(const std::string& name, const QString& title, const QStringList& options,
                    std::function<int()> get, std::function<void(int)> set);
    // On or off: a check box `CheckBox_<name>`.
    void AddCheck(const std::string& name, const QString& caption, std::function<bool()> get,
                  std::function<void(bool)> set);

    // Every row shows its setting's present value; the setters are not called.
    void Refresh();

    void Localize(TLocaler& localer) override;
    TPublishedObject& Published();

    QPushButton* Button_Close = nullptr;

protected:
    void showEvent(QShowEvent* event) override;

private:
    struct TRow {
        std::function<void()> refresh; // shows the value without calling the setter
    };
    // Runs the setter (within the row's command) and reports the change; every row then shows the
    // value that holds, also when the setter refused or adjusted it.
    void Apply(const std::function<void()>& set);

    QFormLayout* form_ = nullptr;
    std::function<void()> changed_;
    std::vector<TRow> rows_;
    bool refreshing_ = false;
    std::unique_ptr<TQtLocalizedForm> published_;
};

} // namespace ludex
