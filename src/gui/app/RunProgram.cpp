#include "gui/app/RunProgram.h"

#include "core/settings/LX_Localer.h"
#include "core/settings/LX_PropertyBailee.h"
#include "core/settings/LX_Utils.h"
#include "gui/app/CloseOnSignal.h"
#include "gui/app/LudexApplication.h"
#include "gui/app/LudexUnit.h"
#include "gui/app/ModalQuestions.h"
#include "gui/app/ProgramWindows.h"
#include "gui/app/QtText.h"

#include <QFileInfo>
#include <QProcess>

#include <cstdio>
#include <cstring>

namespace ludex {

namespace {

const char* const kUsage =
    "Usage: ludex [FILE]\n"
    "A notebook that keeps notes as a tree of branches, each with a title and a memo.\n\n"
    "  FILE       a document (.ldx) to open instead of the documents of the last run;\n"
    "             a relative name is taken from the current folder\n"
    "  --help     show this text and exit\n"
    "  --version  show the version and exit\n\n"
    "Qt's own options, such as -platform offscreen, are accepted too.\n"
    "SIGTERM, SIGINT and SIGHUP close the window as the Exit command does.\n"
    "Settings: $XDG_CONFIG_HOME/ludex (default ~/.config/ludex), or beside the program\n"
    "when a file ludex.portable is there. See ludex(1).\n";

// Whether the words before "--" hold `option`.
bool HasOption(int argc, char** argv, const char* option) {
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        if (std::strcmp(argv[i], option) == 0) {
            return true;
        }
    }
    return false;
}

// The document named on the command line (Qt's options already taken out): none, or one file,
// taken relative to the folder the program was started in. Anything else is a usage error.
bool DocumentArgument(int argc, char** argv, std::string& file) {
    std::vector<std::string> files;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (!optionsEnded && word == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && word.size() > 1 && word[0] == '-') {
            std::fprintf(stderr, "ludex: unknown option %s (see ludex --help)\n", word.c_str());
            return false;
        } else {
            files.push_back(word);
        }
    }
    if (files.size() > 1) {
        std::fprintf(stderr, "ludex: one document at most can be named (see ludex --help)\n");
        return false;
    }
    if (!files.empty() && !files[0].empty()) {
        file = QFileInfo(QString::fromLocal8Bit(files[0].c_str())).absoluteFilePath().toStdString();
    }
    return true;
}

} // namespace

int RunProgram(int argc, char** argv) {
    // Answered before the application exists, so that they work without a display.
    if (HasOption(argc, argv, "--help")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (HasOption(argc, argv, "--version")) {
        std::string version = ProgramVersion();
        while (!version.empty() && version.back() == ' ') {
            version.pop_back();
        }
        std::printf("ludex %s\n", version.c_str());
        return 0;
    }
    // Caught from the start: a signal during start-up closes the window once the loop runs.
    TCloseOnSignal closeOnSignal;

    // The program-wide objects exist before any window: the attribute accessors are constants,
    // the settings store and the localiser are made here.
    SettingsBailee();
    LanguageLocaler();

    TLudexApplication application(argc, argv);
    std::string commandLineFile;
    if (!DocumentArgument(argc, argv, commandLineFile)) {
        return 2;
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
        closeOnSignal.Watch(*windows.Main);
        windows.Main->show();
        status = QApplication::exec();
    }
    if (RestartOnExit) {
        QProcess::startDetached(QCoreApplication::applicationFilePath(), {});
    }
    return status;
}

} // namespace ludex
