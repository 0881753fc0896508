#include "gui/dialogs/PreferencesDialog.h"

#include "core/settings/LX_Localer.h"
#include "gui/app/CommandConnection.h"
#include "gui/app/QtText.h"
#include "gui/dialogs/DialogFrame.h"
#include "gui/dialogs/NamedWidget.h"
#include "gui/properties/QtPublished.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace ludex {

TForm_Preferences::TForm_Preferences(QWidget* parent, std::function<void()> changed)
    : QDialog(parent, kDialogFrame), changed_(std::move(changed)) {
    setObjectName("Form_Preferences");
    setWindowTitle("Preferences");
    auto* outer = new QVBoxLayout(this);
    outer->setSizeConstraint(QLayout::SetFixedSize); // as large as its rows, not resizable
    form_ = new QFormLayout;
    form_->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    form_->setRowWrapPolicy(QFormLayout::DontWrapRows);
    outer->addLayout(form_);
    outer->addStretch(1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    Button_Close = NewNamed<QPushButton>("Button_Close", "Close", this);
    Button_Close->setDefault(true);
    buttons->addWidget(Button_Close);
    outer->addLayout(buttons);
    ConnectCommand(Button_Close, &QPushButton::clicked, this, [this] { accept(); });
    published_ = std::make_unique<TQtLocalizedForm>(*this, *this);
}

TForm_Preferences::~TForm_Preferences() {
    LanguageLocaler().RemoveClient(*published_);
}

TPublishedObject& TForm_Preferences::Published() {
    return *published_;
}

void TForm_Preferences::Apply(const std::function<void()>& set) {
    if (refreshing_) {
        return;
    }
    try {
        set();
    } catch (...) {
        Refresh();
        throw;
    }
    if (changed_) {
        changed_();
    }
    Refresh();
}

void TForm_Preferences::AddNumber(const std::string& name, const QString& label, int least, int most,
                                  std::function<int()> get, std::function<void(int)> set) {
    auto* caption = new QLabel(label, this);
    caption->setObjectName(Q("Label_" + name));
    auto* box = new QSpinBox(this);
    box->setObjectName(Q("SpinBox_" + name));
    box->setRange(least, most);
    caption->setBuddy(box);
    form_->addRow(caption, box);
    // Typing "120" must not apply 1 and 12 on the way: the value counts once editing ends.
    box->setKeyboardTracking(false);
    ConnectCommand(box, &QSpinBox::valueChanged, this,
                   [this, set](int value) { Apply([&] { set(value); }); });
    rows_.push_back({[box, get] { box->setValue(get()); }});
}

void TForm_Preferences::AddChoice(const std::string& name, const QString& label,
                                  const std::vector<std::string>& items, std::function<int()> get,
                                  std::function<void(int)> set) {
    auto* caption = new QLabel(label, this);
    caption->setObjectName(Q("Label_" + name));
    auto* box = new QComboBox(this);
    box->setObjectName(Q("ComboBox_" + name));
    for (const std::string& item : items) {
        box->addItem(Q(item));
    }
    caption->setBuddy(box);
    form_->addRow(caption, box);
    ConnectCommand(box, &QComboBox::currentIndexChanged, this, [this, set](int index) {
        if (index >= 0) {
            Apply([&] { set(index); });
        }
    });
    rows_.push_back({[box, get] { box->setCurrentIndex(get()); }});
}

void TForm_Preferences::AddOptions(const std::string& name, const QString& title, const QStringList& options,
                                   std::function<int()> get, std::function<void(int)> set) {
    auto* group = new QGroupBox(title, this);
    group->setObjectName(Q("RadioGroup_" + name));
    auto* layout = new QVBoxLayout(group);
    std::vector<QRadioButton*> buttons;
    for (const QString& option : options) {
        auto* button = new QRadioButton(option, group);
        layout->addWidget(button);
        buttons.push_back(button);
        const int index = static_cast<int>(buttons.size()) - 1;
        ConnectCommand(button, &QRadioButton::toggled, this, [this, set, index](bool on) {
            if (on) {
                Apply([&] { set(index); });
            }
        });
    }
    form_->addRow(group);
    rows_.push_back({[buttons, get] {
        const int index = get();
        for (std::size_t i = 0; i < buttons.size(); ++i) {
            buttons[i]->setChecked(static_cast<int>(i) == index);
        }
    }});
}

void TForm_Preferences::AddCheck(const std::string& name, const QString& caption, std::function<bool()> get,
                                 std::function<void(bool)> set) {
    auto* box = new QCheckBox(caption, this);
    box->setObjectName(Q("CheckBox_" + name));
    form_->addRow(box);
    ConnectCommand(box, &QCheckBox::toggled, this, [this, set](bool on) { Apply([&] { set(on); }); });
    rows_.push_back({[box, get] { box->setChecked(get()); }});
}

void TForm_Preferences::Refresh() {
    refreshing_ = true;
    for (const TRow& row : rows_) {
        row.refresh();
    }
    refreshing_ = false;
}

void TForm_Preferences::showEvent(QShowEvent* event) {
    Refresh();
    QDialog::showEvent(event);
}

void TForm_Preferences::Localize(TLocaler& localer) {
    localer.LocalizeForm(*published_);
    localer.OpenPath("/messages");
    adjustSize();
}

} // namespace ludex
