#pragma once

#include "core/base/NonCopyable.h"
#include "core/settings/PropertyBailee.h"
#include "core/settings/PublishedObject.h"

#include <string>
#include <vector>

namespace ludex {

class TLocaler;

// A window that re-reads its texts after a language file has been loaded.
class ILocalerClient {
public:
    virtual ~ILocalerClient() = default;
    virtual void Localize(TLocaler& localer) = 0;
};

// Fills the placeholders {0}, {1}, ... of `templateText` with `arguments`, one pass per argument
// in order, each pass scanning the whole text as the previous passes left it (so an argument
// that itself holds "{1}" is filled by the pass for 1). A placeholder that stands in doubled
// braces ("{{0}}") is left; afterwards every "{{" becomes "{" and every "}}" becomes "}", in the
// arguments' texts too. Placeholders numbered beyond the arguments stay as written.
std::string FormatPlaceholders(const std::string& templateText, const std::vector<std::string>& arguments);

// Loads language files and applies them: a form's element names its components and their
// captions, hints and item lists; the `messages` element holds texts looked up by key.
//
// Clients are held by non-owning pointers (a client must outlive the localiser or call
// RemoveClient first) and are told from the last registered to the first.
class TLocaler : private TNonCopyable {
public:
    TLocaler();
    virtual ~TLocaler();

    // Loads the file (cursor on its root), then Localize on every client. When the file cannot
    // be loaded the error propagates and the previous file stays loaded with its cursor.
    void LoadLanguage(const std::string& fileName);

    // Applies the element "/" + the form's name to the form; leaves the cursor there. A missing
    // element raises the store's not-found error.
    void LocalizeForm(TPublishedObject& form);

    void OpenPath(const std::string& path);

    // The attribute `key` of the cursor element (which should be `messages`), or
    // "Unknown: " + key when there is none. Never fails.
    std::string GetMessage(const std::string& key) const;
    // FormatPlaceholders(GetMessage(key), arguments).
    std::string FormatMessage(const std::string& key, const std::vector<std::string>& arguments) const;

    void AddClient(ILocalerClient& client);
    void RemoveClient(ILocalerClient& client);

    // Registers, in the given order (the order in which the windows were created), every form
    // that is also an ILocalerClient; other forms are passed over.
    void RegisterForms(const std::vector<TPublishedObject*>& forms);

    TPropertyBailee& Bailee() { return bailee_; }
    const TPropertyBailee& Bailee() const { return bailee_; }

private:
    std::vector<ILocalerClient*> clients_;
    TPropertyBailee bailee_;
};

} // namespace ludex
