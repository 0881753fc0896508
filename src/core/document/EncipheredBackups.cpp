#include "core/document/EncipheredBackups.h"

#include "core/base/Exception.h"
#include "core/base/FileIO.h"
#include "core/base/FileSystem.h"

#include <cerrno>

namespace ludex {

size_t RemoveBackupsOfPlainText(TDomDocument& document, const std::string& path) {
    if (!document.PlainTextEnciphered()) {
        return 0;
    }
    IFileSystem& fileSystem = CurrentFileSystem();
    const std::string saved = SavedFilePath(path);
    size_t removed = 0;
    for (unsigned n = 1; n <= kMostBackups; ++n) {
        const std::string backup = BackupName(saved, n);
        const TSystemResult result = fileSystem.Remove(backup);
        if (!result.Failed()) {
            ++removed;
        } else if (result.Error() != ENOENT && result.Error() != ENAMETOOLONG) {
            throw EInOutError("Cannot remove the backup \"" + backup +
                              "\", which may hold text that is now encrypted: " + result.Reason());
        }
    }
    document.ClearPlainTextEnciphered();
    return removed;
}

} // namespace ludex
