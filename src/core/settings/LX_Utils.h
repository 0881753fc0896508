#pragma once

#include <string>

namespace ludex {

// The program's version text, shown in the window caption and the About box and stored in new
// documents: GetFileVersionString of the record compiled into the build ("2.1.0 ").
std::string ProgramVersion();

// The link that starts a mail message: "mailto:" + address + "?subject=" + subject + "&body=" +
// body. The parts are joined as they are, without escaping; the two keys are always present,
// also with an empty subject and body. Opening the link is the GUI's business.
std::string MailLink(const std::string& address, const std::string& subject, const std::string& body);

// The error texts of failing to open a web address or a mail link, for the GUI that opens them.
std::string OpenURLErrorText(const std::string& address, int errorCode);
std::string SendMailErrorText(int errorCode);

} // namespace ludex
