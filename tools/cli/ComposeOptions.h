#pragma once
#include <string>
#include <vector>

namespace hanamail {

class ClsBase;
class ClsEmail;
class ClsFileSys;

namespace cli {

// The options that build or change an email, shared by the commands that
// make one: what they set is parsed into ComposeOptions and then applied to
// a ClsEmail, a new one or one loaded first.
struct ComposeOptions {
    enum class Kind { From, ReplyTo, To, Cc, Bcc, Subject, Date, Header, Attach, AttachString };
    struct Step {
        Kind kind;
        std::string value;
    };
    const char* charset = nullptr;
    const char* text = nullptr;
    const char* textCharset = nullptr;
    const char* html = nullptr;
    const char* htmlCharset = nullptr;
    const char* zip = nullptr;
    std::vector<Step> addressing;   // header fields and addresses, in command-line order
    std::vector<Step> attachments;  // files and strings, in command-line order
    bool seenFrom = false, seenReplyTo = false, seenSubject = false, seenDate = false;
    // --text goes beside the body as its plain-text alternative (the body
    // came from a captured page) instead of replacing it.
    bool textAsAlternative = false;
};

// The lines of --help that describe the options.
extern const char kComposeOptionsHelp[];
// How the options take effect, for --help.
extern const char kComposeOptionsNotes[];

enum class OptionParse { NotMine, Taken, Bad };

// Takes argv[i] (and its value) when it is one of the options; Bad with the
// reason in problem for a usage error.
OptionParse parseComposeOption(int argc, char** argv, int& i, ComposeOptions& o, std::string& problem);

// The checks that need every option; false with the reason for a usage error.
bool checkComposeOptions(const ComposeOptions& o, std::string& problem);

// Applies the options to email in their fixed order. False when one failed:
// problem holds the tool's own reason, or is empty and last names the object
// whose log tells why. With loaded set the email came from a file, so an
// HTML body goes beside a plain-text body it already has.
bool applyComposeOptions(const ComposeOptions& o, bool loaded, ClsEmail& email, ClsFileSys& files, ClsBase*& last,
                         std::string& problem);

}  // namespace cli

}  // namespace hanamail
