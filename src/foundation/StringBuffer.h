#pragma once
#include <cstdint>
#include <string_view>
#include "foundation/Api.h"

#include "foundation/BufferLimit.h"
#include "foundation/TembrixObject.h"
#include "platform/AutomationFwd.h"

namespace hanamail {

class ExtPtrArray;

// Growable 8-bit string, always NUL-terminated. The bytes belong to no
// particular charset: the owner decides what they are.
class StringBuffer : public TembrixObject {
public:
    static constexpr int32_t kMaxLength = 0x7FFFFFF0;  // lengths and capacities are 32-bit

    HANAMAIL_API StringBuffer();
    HANAMAIL_API explicit StringBuffer(int32_t capacity);
    HANAMAIL_API explicit StringBuffer(const char* text);
    HANAMAIL_API StringBuffer(const char* bytes, int32_t n, int32_t growth);
    HANAMAIL_API StringBuffer(const StringBuffer& other);
    StringBuffer& operator=(const StringBuffer& other);
    HANAMAIL_API ~StringBuffer() override;

    HANAMAIL_API const char* getString() const;
    HANAMAIL_API int32_t getSize() const;
    int32_t getCapacity() const;
    bool isEmpty() const { return getSize() == 0; }
    // Appending for writers that build a text in many steps: a failure is
    // remembered (failure()) and the writer checks it once at the end.
    StringBuffer& operator<<(const char* text);
    StringBuffer& operator<<(const StringBuffer& other);
    StringBuffer& operator<<(std::string_view bytes);
    StringBuffer& operator<<(char c);
    StringBuffer& operator<<(int n);  // the decimal form
    // A byte that is not a char must say which it means (a character or a number).
    StringBuffer& operator<<(unsigned char) = delete;
    StringBuffer& operator<<(signed char) = delete;
    StringBuffer& operator<<(bool) = delete;
    // clear, then append; the same memory of a failure as <<.
    StringBuffer& operator=(const char* text);
    // Records that a piece this buffer was built from could not be made.
    void markFailed(BufferFailure why);

    // The first append that failed since construction or the last clear.
    HANAMAIL_API BufferFailure failure() const;
    bool hasFailed() const { return failure() != BufferFailure::None; }

    HANAMAIL_API void clear();
    // clear, after overwriting every byte the buffer holds with zeros (for
    // credentials: memory a buffer gave up while growing is not reached).
    void secureClear();
    [[nodiscard]] bool append(const char* text);
    [[nodiscard]] bool append(const StringBuffer& other);
    [[nodiscard]] bool appendN(const char* bytes, int32_t n);
    [[nodiscard]] bool appendChar(char c);
    [[nodiscard]] bool appendInt(int n);
    [[nodiscard]] bool prepend(const char* text);
    [[nodiscard]] bool setString(const char* text);
    [[nodiscard]] bool appendHex(const unsigned char* bytes, int32_t n);
    [[nodiscard]] bool appendXmlEscaped(const char* text);
    bool appendLastError();

    void trim();
    void trim2();
    void collapseWhitespace();
    void removeChar(char c);
    void removeCharFrom(char c, int32_t start);
    void replaceChar(char from, char to);
    void replaceCharsOf(const char* set, char to);
    void dropBefore(char c, bool dropChar);
    void chopAtLast(char c, bool dropChar);
    void shorten(int32_t n);
    char lastChar() const;
    char charAt(int32_t i) const;
    bool replaceFirst(const char* find, const char* repl);
    int replaceAll(const char* find, const char* repl);
    void split(char delim, ExtPtrArray& out, int max) const;

    bool contains(const char* text) const;
    bool containsIgnoreCase(const char* text) const;
    bool equals(const char* text) const;
    bool equalsIgnoreCase(const char* text) const;
    int compare(const char* text) const;
    bool beginsWith(const char* text) const;

    void toLowerCase();
    void toUpperCase();
    bool isAllAscii() const;
    void xmlEscape();
    void xmlEscapeNoQuotes();
    void toCrlf();
    void toLf();
    void stripDirectory();
    void shrink();
    // Hands the NUL-terminated array to the caller, who frees it with std::free.
    char* takeData();

    // ---- Code-page conversion of the whole content, and writing in place
    // ---- (StringBufferConvert.cpp). Results: true when nothing was lost.
    // The BSTR converted from UTF-16 into the ANSI code page; null or empty gives
    // an empty buffer of capacity 4.
    HANAMAIL_API explicit StringBuffer(BSTR bstr);
    bool convertCodePage(int fromCp, int toCp);
    bool ansiToCodePage(int cp);
    bool codePageToAnsi(int cp);
    // A new BSTR of the content read in the ANSI code page; empty content gives an empty BSTR.
    BSTR getBstr() const;
    // Room for n more bytes after the content for encoders that write in place
    // (grows by at least half the capacity, so repeated calls stay linear);
    // commitAppend(k) keeps the first k of them. Null when the buffer cannot grow.
    [[nodiscard]] char* reserveAppend(int32_t n);
    void commitAppend(int32_t n);

private:
    bool alive() const;
    bool reserveFor(int64_t extra, int32_t extraSlack);
    bool fail(BufferFailure why);
    bool insertBytes(int32_t at, const char* bytes, int32_t n);
    void initFrom(const char* bytes, int32_t n, int32_t capacity);

    uint8_t m_check;
    char* m_data;
    int32_t m_capacity;
    int32_t m_length;
    int32_t m_growth;
    BufferFailure m_failure = BufferFailure::None;
};

}  // namespace hanamail
