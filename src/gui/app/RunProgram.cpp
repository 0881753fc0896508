#include "gui/app/RunProgram.h"

#include "core/settings/LX_Localer.h"
#include "core/settings/LX_PropertyBailee.h"
#include "gui/app/LudexApplication.h"
#include "gui/app/LudexUnit.h"
#include "gui/app/ModalQuestions.h"
#include "gui/app/ProgramWindows.h"
#include "gui/app/QtText.h"

#include <QFileInfo>
#include <QProcess>

namespace ludex {

int RunProgram(int argc, char** argv) {
    // The program-wide objects exist before any window: the attribute accessors are constants,
    // the settings store and the localiser are made here.
    SettingsBailee();
    LanguageLocaler();

    TLudexApplication application(argc, argv);
    // A file named on the command line is taken relative to the folder the program was started
    // in, before start-up moves to the executable's folder.
    std::string commandLineFile;
    if (argc > 1 && argv[1][0] != '\0') {
        commandLineFile = QFileInfo(QString::fromLocal8Bit(argv[1])).absoluteFilePath().toStdString();
    }

    int status = 0;
    {
        TProgramWindows windows;
        try {
            windows.StartUp(ExecutablePath(), commandLineFile);
        } catch (const std::exception& e) {
            // A broken installation: say why before ending.
            ModalQuestions().ShowError(nullptr, Q(e.what()));
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
