#pragma once
#include <cstdint>
#include "foundation/Api.h"

#include "foundation/DataBuffer.h"
#include "foundation/StringBuffer.h"
#include "foundation/TembrixObject.h"
#include "platform/AutomationFwd.h"

namespace hanamail {

class Charset;

// The string that crosses the component boundary: one text readable as ANSI
// (the process's ANSI code page), UTF-8 or UTF-16. Forms are derived on first
// request and kept until the text is set again. One thread at a time.
class XString : public TembrixObject {
public:
    HANAMAIL_API XString();
    HANAMAIL_API XString(const XString& other);
    HANAMAIL_API XString& operator=(const XString& other);
    HANAMAIL_API ~XString() override;

    HANAMAIL_API void clear();
    HANAMAIL_API bool isEmpty() const;

    void setFromAnsi(const char* text);
    HANAMAIL_API void setFromUtf8(const char* text);
    HANAMAIL_API void setFromUtf8N(const char* bytes, int32_t n);
    // NUL-terminated UTF-16.
    void setFromUnicode(const OLECHAR* text);
    // count 16-bit units; embedded zero units are kept.
    void setFromUnicodeN(const OLECHAR* text, uint32_t count);
    void setFromBstr(BSTR bstr);
    // The UTF-8 form plus text becomes the new text.
    HANAMAIL_API void appendUtf8(const char* text);

    HANAMAIL_API const char* getUtf8() const;
    HANAMAIL_API const StringBuffer& getUtf8Sb() const;
    const char* getAnsi() const;
    const StringBuffer& getAnsiSb() const;
    // Terminated by a zero unit; getNumChars units before it.
    const OLECHAR* getUnicode() const;
    HANAMAIL_API uint32_t getNumChars() const;
    // A new BSTR, never null unless memory runs out; the caller frees it.
    BSTR getBstr() const;

    // Whether the text converts into the ANSI code page without loss.
    bool isAnsiFit() const;
    // Appends the text converted into the charset's code page; true when nothing was lost.
    bool getConverted(const Charset& charset, DataBuffer& out) const;

private:
    enum : int32_t { kFitUnknown = 0, kFits = 1, kDoesNotFit = 2 };

    void markOnly(bool unicode, bool ansi, bool utf8);
    void deriveUnicode() const;
    void deriveUtf8() const;
    void deriveAnsi() const;

    mutable int32_t m_ansiFit = kFitUnknown;
    mutable uint8_t m_haveUnicode = 1;
    mutable uint8_t m_haveAnsi = 1;
    mutable uint8_t m_haveUtf8 = 1;
    mutable DataBuffer m_unicode;  // code page 1200, then two zero bytes
    mutable StringBuffer m_ansi;
    mutable StringBuffer m_utf8;
};

}  // namespace hanamail
