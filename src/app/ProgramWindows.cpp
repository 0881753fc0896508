#include "app/ProgramWindows.h"

#include "app/LudexUnit.h"
#include "dialogs/LX_About.h"

namespace ludex {

TProgramWindows::TProgramWindows() {
    Main = std::make_unique<TForm_Ludex>();
    About = std::make_unique<TForm_About>(Main.get());
    Main->SetAboutBox(About.get());
}

TProgramWindows::~TProgramWindows() {
    // Dialogs and command groups go first; the main window, which owns the documents, last.
    Main->SetAboutBox(nullptr);
    About.reset();
    Main.reset();
}

std::vector<TPublishedObject*> TProgramWindows::LocalizedForms() const {
    return {&Main->Published(), &About->Published()};
}

void TProgramWindows::StartUp(const std::string& executablePath, const std::string& commandLineFile) {
    Main->StartUp(executablePath, commandLineFile, LocalizedForms());
}

} // namespace ludex
