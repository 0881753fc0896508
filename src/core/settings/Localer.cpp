#include "core/settings/Localer.h"

#include <algorithm>

namespace ludex {

namespace {

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
    size_t pos = text.find(from);
    while (pos != std::string::npos) {
        text.replace(pos, from.size(), to);
        pos = text.find(from, pos + to.size());
    }
}

} // namespace

std::string FormatPlaceholders(const std::string& templateText, const std::vector<std::string>& arguments) {
    std::string result = templateText;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string tag = "{" + std::to_string(i) + "}";
        const std::string& argument = arguments[i];
        size_t pos = result.find(tag);
        while (pos != std::string::npos) {
            const size_t after = pos + tag.size();
            const bool doubled =
                pos > 0 && result[pos - 1] == '{' && after < result.size() && result[after] == '}';
            size_t next = after;
            if (!doubled) {
                result.replace(pos, tag.size(), argument);
                next = pos + argument.size();
            }
            pos = result.find(tag, next);
        }
    }
    ReplaceAll(result, "{{", "{");
    ReplaceAll(result, "}}", "}");
    return result;
}

TLocaler::TLocaler() = default;
TLocaler::~TLocaler() = default;

void TLocaler::LoadLanguage(const std::string& fileName) {
    bailee_.LoadFromFile(fileName);
    const std::vector<ILocalerClient*> clients = clients_;
    for (auto it = clients.rbegin(); it != clients.rend(); ++it) {
        (*it)->Localize(*this);
    }
}

void TLocaler::LocalizeForm(TPublishedObject& form) {
    bailee_.OpenPath("/" + form.GetName());
    bailee_.LoadComponentProperties(form);
}

void TLocaler::OpenPath(const std::string& path) {
    bailee_.OpenPath(path);
}

std::string TLocaler::GetMessage(const std::string& key) const {
    return bailee_.ReadValueDef(key, "Unknown: " + key);
}

std::string TLocaler::FormatMessage(const std::string& key, const std::vector<std::string>& arguments) const {
    return FormatPlaceholders(GetMessage(key), arguments);
}

void TLocaler::AddClient(ILocalerClient& client) {
    clients_.push_back(&client);
}

void TLocaler::RemoveClient(ILocalerClient& client) {
    std::erase(clients_, &client);
}

void TLocaler::RegisterForms(const std::vector<TPublishedObject*>& forms) {
    for (TPublishedObject* form : forms) {
        if (auto* client = dynamic_cast<ILocalerClient*>(form)) {
            AddClient(*client);
        }
    }
}

} // namespace ludex
