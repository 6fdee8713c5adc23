#pragma once
#include <cstdint>

#include "foundation/StringBuffer.h"
#include "foundation/TembrixObject.h"

namespace hanamail {

class ExtPtrArray;

// Byte classes the address parsers share.
class Rfc822ParseHelp {
public:
    // A space or any control byte (CR, LF, tab, the rest below 0x20, DEL) ends an address.
    static bool isAddressTerminator(unsigned char c) { return c == ' ' || c < 0x20 || c == 0x7F; }
    // True when the text holds a control byte or DEL. Callers refuse such an
    // address before Create: it would end up in SMTP commands and header lines.
    static bool hasControlBytes(const char* text);
    // local-part "@" domain in printable ASCII: a dot-atom or quoted local
    // part, a dot-atom or bracketed domain. Header lines and SMTP commands can
    // carry only such an address as it is.
    static bool isAsciiAddrSpec(const char* text, size_t n);
};

// One mailbox: a friendly name (which may hold encoded words) and a bare address.
// The parser is deliberately forgiving: the address is whatever surrounds the
// last "@", the name whatever stands before it.
class Rfc822Address : public Rfc822ParseHelp, public TembrixObject {
public:
    Rfc822Address();
    // Create(name, address).
    Rfc822Address(const char* name, const char* address);
    Rfc822Address(const Rfc822Address&) = delete;
    Rfc822Address& operator=(const Rfc822Address&) = delete;
    ~Rfc822Address() override;

    // name may be null (no name at all) or empty. Never fails.
    void Create(const char* name, const char* address);
    // Null when the text holds no "@" or says "undisclosed recipients".
    static Rfc822Address* Parse(const char* text);
    // Appends every address of a comma-separated list that is not already in
    // the list (addresses compared without case); the list owns them.
    // Returns the number of addresses found, duplicates included.
    static int ParseList(const char* text, ExtPtrArray& list);

    // Encoded words of an address field's value decoded to UTF-8, with '"', '\'
    // and ',' of the decoded text backslash-escaped, so that a name that decodes
    // to commas or quotes stays one mailbox for ParseList and Parse.
    static void decodeEncodedWordsEscaped(StringBuffer& text);

    bool isValid() const { return m_valid; }

    // The getters append to out.
    // "name" <address>, with '"' and '\' of the name escaped; the address alone without a name.
    void GetFullForm(StringBuffer& out) const;
    void GetDecodedFullForm(StringBuffer& out) const;
    // The name with its encoded words decoded.
    void GetFriendlyName(StringBuffer& out) const;
    void GetAddress(StringBuffer& out) const;
    bool HasNoName() const { return m_name.isEmpty(); }
    void SetFriendlyName(const char* text);

    // Replaces every occurrence in the address, the name and the full text;
    // true when anything was replaced.
    bool ReplaceText(const char* find, const char* replacement);
    Rfc822Address* Clone() const;
    // <address>\n\t<addr>..</addr>\n\t<name>..</name>\n</address>
    void WriteXml(StringBuffer& out) const;

    const StringBuffer& fullText() const { return m_fullText; }
    const StringBuffer& name() const { return m_name; }
    const StringBuffer& address() const { return m_address; }

private:
    bool m_valid;
    StringBuffer m_fullText;  // what the object was made from; only ReplaceText looks at it
    StringBuffer m_name;
    StringBuffer m_address;
};

}  // namespace hanamail
