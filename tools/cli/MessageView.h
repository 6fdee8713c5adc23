#pragma once
#include <string>
#include <vector>

namespace hanamail {

class Email2;

namespace cli {

// A read email as a mail reader shows it: the text and HTML bodies it
// displays and the leaves it offers as attachments.
class MessageView {
public:
    explicit MessageView(const Email2& root);

    // Null when the email has no such body.
    const Email2* text() const { return m_text; }
    const Email2* html() const { return m_html; }
    // Every other leaf, in order; an attached message is one leaf.
    const std::vector<const Email2*>& attachments() const { return m_attachments; }

    // The content type, lower case; "text/plain" when empty or without "/".
    static std::string contentType(const Email2& part);
    // The file name (Content-Disposition filename, else the Content-Type
    // name) in UTF-8 with encoded words decoded; empty when there is none.
    static std::string fileName(const Email2& part);
    // The decoded bytes: a text part's in its own charset.
    static std::string bytes(const Email2& part);
    // A leaf for the reader: not a multipart with sub-parts.
    static bool isLeaf(const Email2& part);

private:
    const Email2* findBody(const Email2& part, const char* type) const;
    void collectLeaves(const Email2& part);

    const Email2* m_text = nullptr;
    const Email2* m_html = nullptr;
    std::vector<const Email2*> m_attachments;
};

}  // namespace cli

}  // namespace hanamail
