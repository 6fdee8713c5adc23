#pragma once
#include <string>

#include "platform/Socket.h"

namespace hanamail {

class ClsEmail;
class DataBuffer;

namespace cli {

// The bytes of a file, or of standard input when path is null or "-";
// false with the reason in problem.
bool readInput(const char* path, DataBuffer& out, std::string& problem);

// XML rather than MIME: "<?xml" or "<mime_message" first, after a byte-order
// mark or white space.
bool looksLikeXml(const DataBuffer& bytes);

enum class EmailForm { Sniff, Mime, Xml };

// Replaces the email with the one in bytes. MIME text is never refused; XML
// that holds no email gives false with the reason in problem (the email's
// log says more).
bool loadEmail(ClsEmail& email, const DataBuffer& bytes, EmailForm form, std::string& problem);

// The same from a file (or standard input); on failure the email's log goes
// to standard error, the reason into problem.
bool loadEmailFile(ClsEmail& email, const char* path, EmailForm form, std::string& problem);

// How a page is fetched: time-outs (0: the email's own), the certificate
// checks of https pages, the address family.
struct CaptureSettings {
    int timeoutSecs = 0;
    const char* caFile = nullptr;
    bool insecure = false;
    platform::AddressFamily family = platform::AddressFamily::Any;
};

// Replaces the email with the page at source (URL or file), captured whole.
bool captureEmail(ClsEmail& email, const char* source, const CaptureSettings& settings);

}  // namespace cli

}  // namespace hanamail
