#pragma once

#include "core/settings/PropertyBailee.h"
#include "core/settings/RecentFiles.h"

#include <QObject>

namespace ludex {

class TForm_Ludex;

// File > Recent: the documents the user most recently opened or saved (TRecentFiles, kept in the
// settings). The menu is filled each time it opens: a file that no longer exists is shown
// disabled, and "Remove Missing" takes such files off the list. Choosing a file opens it, or
// selects it when it is open already.
class TRecentFilesMenu : public QObject, public IPropertyBaileeClient {
    Q_OBJECT

public:
    // Registers with the settings store and listens to the window's named documents.
    explicit TRecentFilesMenu(TForm_Ludex& window);
    ~TRecentFilesMenu() override;

    void LoadSettings(TPropertyBailee& bailee) override;
    void SaveSettings(TPropertyBailee& bailee) override;

    const TRecentFiles& Files() const { return files_; }
    // Brings the menu up to date with the list and the file system.
    void Fill();
    void RemoveMissing();
    // Selects the document of that file when it is open, else opens it.
    void Open(const std::string& file);

private:
    void Add(const std::string& file);

    TForm_Ludex& window_;
    TRecentFiles files_;
};

} // namespace ludex
