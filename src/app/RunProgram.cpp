#include "app/RunProgram.h"

#include "app/LudexApplication.h"
#include "app/LudexUnit.h"
#include "app/ModalQuestions.h"
#include "app/ProgramWindows.h"
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
        TProgramWindows windows;
        try {
            windows.StartUp(ExecutablePath(), commandLineFile);
        } catch (const std::exception& e) {
            // A broken installation: say why before ending.
            ModalQuestions().ShowError(nullptr, QString::fromUtf8(e.what()));
            return 1;
        }
        windows.Main->show();
        status = QApplication::exec();
    }
    if (RestartOnExit) {
        QProcess::startDetached(QCoreApplication::applicationFilePath(), {});
    }
    return status;
}

} // namespace ludex
