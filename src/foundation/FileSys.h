#pragma once
#include <cstdint>

#include "platform/FileSystem.h"

namespace hanamail {

class DataBuffer;
class LogBase;
class StringBuffer;
class XString;

// Whole-file reads and writes, sizes, existence and directory calls. Names
// are UTF-8 (or XString). A given log (null means none) receives the reasons
// of a failure.
class FileSys {
public:
    // The form of name a caller works with. The system is always given the
    // same file; the form only decides which lines a failure logs.
    enum class NameForm { Ansi, Wide };

    // Whether the name converts into the ANSI code page without loss.
    static bool nameFitsAnsi(const char* utf8Name);
    static NameForm formOf(const char* utf8Name) { return nameFitsAnsi(utf8Name) ? NameForm::Ansi : NameForm::Wide; }

    // Opens with the retry on sharing violations; an invalid handle on failure.
    static platform::FileHandle openForRead(const char* utf8Name, NameForm form, LogBase* log);
    static platform::FileHandle openForWrite(const char* utf8Name, NameForm form, LogBase* log);
    static platform::FileHandle openForReadWrite(const char* utf8Name, NameForm form, LogBase* log);
    static platform::FileHandle openDirectoryForRead(const char* utf8Name, NameForm form, LogBase* log);
    static void closeFile(platform::FileHandle h) { platform::closeFile(h); }

    // Replaces the buffer's content with the whole file. The first form picks
    // the name form by formOf; on failure the buffer is left empty.
    static bool loadFile(const char* utf8Name, DataBuffer& out, LogBase* log);
    static bool loadFile(const char* utf8Name, NameForm form, DataBuffer& out, LogBase* log);
    // Appends the file's text: UTF-16 with a byte-order mark becomes UTF-8,
    // a UTF-8 mark is dropped (unless it is all the file holds).
    static bool loadFile(const char* utf8Name, StringBuffer& out, LogBase* log);
    // The code page a byte-order mark at the start of text names (65001 for
    // EF BB BF, 1200 for FF FE, 1201 for FE FF), or 0; markLength receives the
    // mark's length. Every load of text decides its charset with this first.
    static int textMark(const unsigned char* bytes, uint32_t n, uint32_t& markLength);
    // A path or a "file:///" URL (with "C|/" for "C:/"); null on failure. The caller deletes the buffer.
    static StringBuffer* loadFileOrFileUrl(const char* utf8Name, LogBase* log);

    // Creates or truncates the file and writes n bytes (none when bytes is null or n is 0).
    static bool writeFile(const char* utf8Name, const void* bytes, uint32_t n, LogBase* log);

    static uint32_t getFileSize(const char* utf8Name, LogBase* log, bool& ok);
    static bool fileExists(const char* utf8Name, LogBase* log);

    static bool getCurrentDirectory(StringBuffer& utf8Out);
    static bool setCurrentDirectory(const char* utf8Name);
    static bool getTempPath(StringBuffer& utf8Out);
    // The name itself when the system cannot give the full form.
    static void getFullPathName(const char* utf8Name, StringBuffer& utf8Out);
    static bool createDirectory(const char* utf8Name);
    static bool moveFile(const char* utf8From, const char* utf8To);
    static bool deleteFile(const char* utf8Name);

    // The same operations for names held as XString. A file loaded into a
    // DataBuffer by an XString name is opened by its wide form.
    static platform::FileHandle openForRead(const XString& name, LogBase* log);
    static platform::FileHandle openForWrite(const XString& name, LogBase* log);
    static platform::FileHandle openForReadWrite(const XString& name, LogBase* log);
    static platform::FileHandle openDirectoryForRead(const XString& name, LogBase* log);
    static bool loadFile(const XString& name, DataBuffer& out, LogBase* log);
    static bool loadFile(const XString& name, StringBuffer& out, LogBase* log);
    static StringBuffer* loadFileOrFileUrl(const XString& name, LogBase* log);
    static bool writeFile(const XString& name, const void* bytes, uint32_t n, LogBase* log);
    static void getCurrentDirectory(XString& out);
    static bool setCurrentDirectory(const XString& name);
    static void getTempPath(XString& out);
    static void getFullPathName(const XString& name, XString& out);

    // False, with one error line, for a name holding < > " ? * or |; false without a line for null.
    static bool checkFileName(const char* name, LogBase* log);
};

}  // namespace hanamail
