#include "gui/app/CommandConnection.h"

#include "core/base/Exception.h"
#include "gui/app/LudexApplication.h"

namespace ludex {

namespace {
TCommandCheck& InstalledCheck() {
    static TCommandCheck check;
    return check;
}
} // namespace

TCommandCheck SetCommandCheck(TCommandCheck check) {
    std::swap(InstalledCheck(), check);
    return check;
}

bool RunCommand(const QObject& source, const std::function<void()>& command) {
    try {
        if (const TCommandCheck& check = InstalledCheck()) {
            check(source);
        }
        command();
        return true;
    } catch (const ECancelled&) {
        return false; // the user stopped it: nothing to report
    } catch (...) {
        ShowCurrentException();
        return false;
    }
}

} // namespace ludex
