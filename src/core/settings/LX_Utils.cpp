#include "core/settings/LX_Utils.h"

#include "core/settings/ExeFileVersion.h"

namespace ludex {

std::string ProgramVersion() {
    return GetFileVersionString();
}

std::string MailLink(const std::string& address, const std::string& subject, const std::string& body) {
    return "mailto:" + address + "?subject=" + subject + "&body=" + body;
}

std::string OpenURLErrorText(const std::string& address, int errorCode) {
    return "Can not open " + address + "\r\nError code " + std::to_string(errorCode);
}

std::string SendMailErrorText(int errorCode) {
    return "Can not open email client. Error code " + std::to_string(errorCode);
}

} // namespace ludex
