#include "app/RunProgram.h"

#include "app/LudexApplication.h"
#include "app/LudexUnit.h"
#include "app/ModalQuestions.h"
#include "dialogs/LX_About.h"
#include "settings/LX_Localer.h"
#include "settings/LX_PropertyBailee.h"

#include <QProcess>

namespace ludex {

int RunProgram(int argc, char** argv) {
    // The program-wide objects exist before any window: the attribute accessors are constants,
    // the settings store and the localiser are made here.
    SettingsBailee();
    LanguageLocaler();

    TLudexApplication application(argc, argv);
    const std::string commandLineFile = argc > 1 ? std::string(argv[1]) : std::string();

    int status = 0;
    {
        // The windows, in their fixed order; the main window first.
        TForm_Ludex mainWindow;
        TForm_About about(&mainWindow);
        mainWindow.SetAboutBox(&about);
        try {
            mainWindow.StartUp(ExecutablePath(), commandLineFile,
                               {&mainWindow.Published(), &about.Published()});
        } catch (const std::exception& e) {
            ModalQuestions().ShowError(nullptr, QString::fromUtf8(e.what()));
            return 1;
        }
        mainWindow.show();
        status = QApplication::exec();
    }
    if (RestartOnExit) {
        QProcess::startDetached(QCoreApplication::applicationFilePath(), {});
    }
    return status;
}

} // namespace ludex
