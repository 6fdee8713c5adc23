#include "foundation/FileSys.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "charset/CodePages.h"
#include "charset/EncodingConvert.h"
#include "foundation/BufferLimit.h"
#include "foundation/DataBuffer.h"
#include "foundation/HandleIo.h"
#include "foundation/LogBase.h"
#include "foundation/LogNull.h"
#include "foundation/StringBuffer.h"
#include "foundation/XString.h"
#include "platform/Platform.h"

namespace hanamail {

namespace {

using platform::FileHandle;
using platform::kInvalidFile;

LogBase& logOrNull(LogBase* log)
{
    static LogNull nullLog;
    return log ? *log : nullLog;
}

FileHandle openWithLog(const char* name, platform::FileOpenMode mode, FileSys::NameForm form, LogBase* log)
{
    FileHandle h = platform::openFile(name, mode);
    if (h != kInvalidFile || !log) return h;
    std::string reason = platform::lastErrorText();
    if (form == FileSys::NameForm::Ansi) {
        log->logError("Failed to open file (2)");
        log->logData("filename", name);
    } else {
        log->logError("Failed to open file (3)");
        log->logData(FileSys::nameFitsAnsi(name) ? "filename" : "utf8Filename", name);
    }
    log->logData("osErrorInfo", reason.c_str());
    return kInvalidFile;
}

bool isEmptyName(const char* name)
{
    return !name || !*name;
}

// The size as a 32-bit count; larger files are reported as too large.
bool fileSize32(FileHandle h, uint32_t limit, uint32_t& size)
{
    uint64_t big = 0;
    size = 0;
    if (!platform::getFileSize(h, big)) return false;
    if (big > limit) {
        platform::setLastErrorFileTooLarge();
        return false;
    }
    size = static_cast<uint32_t>(big);
    return true;
}

bool beginsWithNoCase(const char* s, const char* prefix)
{
    for (; *prefix; ++s, ++prefix) {
        char a = *s, b = *prefix;
        if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
        if (a != b) return false;
    }
    return true;
}

bool isAsciiLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

}  // namespace

bool FileSys::nameFitsAnsi(const char* utf8Name)
{
    if (isEmptyName(utf8Name)) return true;
    size_t n = std::strlen(utf8Name);
    bool ascii = true;
    for (size_t i = 0; i < n && ascii; ++i) ascii = static_cast<unsigned char>(utf8Name[i]) < 0x80;
    int acp = platform::ansiCodePage();
    if (ascii || acp == kUtf8) return true;
    EncodingConvert ec;
    DataBuffer ansi;
    return ec.convert(kUtf8, acp, utf8Name, static_cast<uint32_t>(n), ansi);
}

FileHandle FileSys::openForRead(const char* utf8Name, NameForm form, LogBase* log)
{
    if (isEmptyName(utf8Name)) {
        if (log) log->logError("Cannot open file, filename is empty.");
        return kInvalidFile;
    }
    return openWithLog(utf8Name, platform::FileOpenMode::Read, form, log);
}

FileHandle FileSys::openForWrite(const char* utf8Name, NameForm form, LogBase* log)
{
    if (isEmptyName(utf8Name)) return kInvalidFile;
    return openWithLog(utf8Name, platform::FileOpenMode::Write, form, log);
}

FileHandle FileSys::openForReadWrite(const char* utf8Name, NameForm form, LogBase* log)
{
    if (isEmptyName(utf8Name)) return kInvalidFile;
    return openWithLog(utf8Name, platform::FileOpenMode::ReadWrite, form, log);
}

FileHandle FileSys::openDirectoryForRead(const char* utf8Name, NameForm form, LogBase* log)
{
    if (isEmptyName(utf8Name)) return kInvalidFile;
    return openWithLog(utf8Name, platform::FileOpenMode::ReadDirectory, form, log);
}

bool FileSys::loadFile(const char* utf8Name, DataBuffer& out, LogBase* log)
{
    return loadFile(utf8Name, formOf(utf8Name), out, log);
}

bool FileSys::loadFile(const char* utf8Name, NameForm form, DataBuffer& out, LogBase* log)
{
    out.clear();
    LogBase& L = logOrNull(log);
    FileHandle h = openForRead(utf8Name, form, log);
    if (h == kInvalidFile) return false;
    uint32_t size = 0;
    // Four zero bytes follow the content, so the size must leave room for them.
    if (!fileSize32(h, BufferLimit::maxBytes() - 4, size)) {
        L.logError(platform::lastErrorText().c_str());
        closeFile(h);
        return false;
    }
    // The reported size is one allocation; a pipe or a /proc file reports
    // none, and what any file holds beyond its size is read on to the end.
    DataBuffer data;
    bool ok = (size == 0 || data.ensureCapacity(size + 4)) && HandleIo::readToEnd(h, data);
    if (!ok && !data.hasFailed()) {
        std::string reason = platform::lastErrorText();
        L.logError(reason.c_str());
        if (form == NameForm::Ansi) {
            StringBuffer cwd;
            getCurrentDirectory(cwd);
            L.logData("filename", utf8Name);
            L.logData("current_dir", cwd.getString());
        }
    } else if (data.hasFailed() ||
               (data.getCapacity() - data.getSize() < 4 && !data.ensureCapacity(data.getSize() + 4))) {
        data.failure() == BufferFailure::OutOfMemory ? platform::setLastErrorNoMemory()
                                                     : platform::setLastErrorFileTooLarge();
        L.logError(platform::lastErrorText().c_str());
        ok = false;
    }
    closeFile(h);
    if (!ok) return false;  // half a file must not pass for the file
    // The zero bytes lie past the capacity, which is the file's size.
    std::memset(data.getDataMutable() + data.getSize(), 0, 4);
    const uint32_t got = data.getSize();
    out.takeOwnership(data.takeData(), got);
    return true;
}

bool FileSys::loadFile(const char* utf8Name, StringBuffer& out, LogBase* log)
{
    LogBase& L = logOrNull(log);
    FileHandle h = openForRead(utf8Name, formOf(utf8Name), log);
    if (h == kInvalidFile) return false;
    uint32_t size = 0;
    int32_t room = StringBuffer::kMaxLength - out.getSize() - 1;
    if (!fileSize32(h, room > 0 ? static_cast<uint32_t>(room) : 0, size)) {
        L.logError(platform::lastErrorText().c_str());
        L.logData("filename", utf8Name);
        L.logError("Failed to get file size");
        closeFile(h);
        return false;
    }
    DataBuffer data;
    const bool read = (size == 0 || data.ensureCapacity(size)) && HandleIo::readToEnd(h, data);
    if (!read || data.getSize() > static_cast<uint32_t>(room > 0 ? room : 0)) {
        if (data.hasFailed() || read)
            data.failure() == BufferFailure::OutOfMemory ? platform::setLastErrorNoMemory()
                                                         : platform::setLastErrorFileTooLarge();
        std::string reason = platform::lastErrorText();
        closeFile(h);
        L.logError(reason.c_str());
        L.logData("filename", utf8Name);
        L.logError("Failed to read data from file");
        return false;
    }
    closeFile(h);
    const unsigned char* bytes = data.getData();
    size = data.getSize();
    if (size == 0) return true;
    bool ok;
    uint32_t markLength = 0;
    const int marked = textMark(bytes, size, markLength);
    if (marked == kUtf16 || marked == kUtf16Be) {
        EncodingConvert ec;
        DataBuffer utf8;
        ec.convert(marked, kUtf8, bytes, size, utf8);
        ok = utf8.getSize() <= static_cast<uint32_t>(StringBuffer::kMaxLength) &&
             out.appendN(reinterpret_cast<const char*>(utf8.getData()), static_cast<int32_t>(utf8.getSize()));
    } else if (marked == kUtf8 && size > 3) {  // a file of the mark alone keeps it
        ok = out.appendN(reinterpret_cast<const char*>(bytes) + 3, static_cast<int32_t>(size - 3));
    } else {
        ok = out.appendN(reinterpret_cast<const char*>(bytes), static_cast<int32_t>(size));
    }
    return ok;
}

int FileSys::textMark(const unsigned char* bytes, uint32_t n, uint32_t& markLength)
{
    markLength = 0;
    if (n >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
        markLength = 3;
        return kUtf8;
    }
    if (n >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        markLength = 2;
        return kUtf16;
    }
    if (n >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF) {
        markLength = 2;
        return kUtf16Be;
    }
    return 0;
}

StringBuffer* FileSys::loadFileOrFileUrl(const char* utf8Name, LogBase* log)
{
    if (isEmptyName(utf8Name)) return nullptr;
    // The whole name is used: a shortened one could name another file.
    const char* p = utf8Name;
    if (beginsWithNoCase(p, "file:///")) {
        // "file:///C:/x" names "C:/x"; "file:///tmp/x" names "/tmp/x".
        p += (isAsciiLetter(p[8]) && (p[9] == ':' || p[9] == '|')) ? 8 : 7;
    }
    StringBuffer path(p);
    path.replaceChar('|', ':');
    bool ok = false;
    uint32_t size = getFileSize(path.getString(), log, ok);
    if (!ok) return nullptr;
    int32_t capacity = size < static_cast<uint32_t>(StringBuffer::kMaxLength - 200) ? static_cast<int32_t>(size) + 200
                                                                                    : StringBuffer::kMaxLength;
    auto* sb = new (std::nothrow) StringBuffer(capacity);
    if (!sb) return nullptr;
    if (!loadFile(path.getString(), *sb, log)) {
        delete sb;
        return nullptr;
    }
    return sb;
}

bool FileSys::writeFile(const char* utf8Name, const void* bytes, uint32_t n, LogBase* log)
{
    if (isEmptyName(utf8Name)) return false;
    LogBase& L = logOrNull(log);
    // A name that does not fit the ANSI code page is only ever used in its wide
    // form: a lossy ANSI form could name another file.
    NameForm form = formOf(utf8Name);
    bool ansi = form == NameForm::Ansi;
    FileHandle h = openForWrite(utf8Name, form, log);
    if (h == kInvalidFile) {
        L.logData(ansi ? "filename" : "utf8Filename", utf8Name);
        L.logError(ansi ? "Failed to write complete file (7)" : "Failed to write complete file (6)");
        return false;
    }
    if (bytes && n > 0) {
        uint32_t written = 0;
        bool ok = platform::writeFile(h, bytes, n, written);
        if (!ok || written < n) {
            std::string reason = platform::lastErrorText();
            closeFile(h);
            if (ansi) {
                L.logData("filename", utf8Name);
                L.logError(reason.c_str());
                L.logError("Failed to write complete file (1)");
            } else {
                L.logError(reason.c_str());
                L.logError("Failed to write complete file (3)");
            }
            return false;
        }
    }
    closeFile(h);
    return true;
}

uint32_t FileSys::getFileSize(const char* utf8Name, LogBase* log, bool& ok)
{
    ok = false;
    if (isEmptyName(utf8Name)) return 0;
    FileHandle h = openForRead(utf8Name, formOf(utf8Name), log);
    if (h == kInvalidFile) return 0;
    uint32_t size = 0;
    if (!fileSize32(h, 0xFFFFFFFFu, size)) {
        std::string reason = platform::lastErrorText();
        closeFile(h);
        LogBase& L = logOrNull(log);
        L.logError(reason.c_str());
        L.logData("filename", utf8Name);
        L.logError("Failed to get file size");
        return 0;
    }
    closeFile(h);
    ok = true;
    return size;
}

bool FileSys::fileExists(const char* utf8Name, LogBase* log)
{
    FileHandle h = openForRead(utf8Name, formOf(utf8Name), log);
    if (h == kInvalidFile) return false;
    closeFile(h);
    return true;
}

bool FileSys::getCurrentDirectory(StringBuffer& utf8Out)
{
    utf8Out.clear();
    std::string dir;
    if (!platform::getCurrentDirectory(dir)) return false;
    return utf8Out.append(dir.c_str());
}

bool FileSys::setCurrentDirectory(const char* utf8Name)
{
    return platform::setCurrentDirectory(utf8Name);
}

bool FileSys::getTempPath(StringBuffer& utf8Out)
{
    utf8Out.clear();
    std::string dir;
    if (!platform::getTempPath(dir)) return false;
    return utf8Out.append(dir.c_str());
}

void FileSys::getFullPathName(const char* utf8Name, StringBuffer& utf8Out)
{
    std::string full;
    utf8Out.clear();
    if (platform::getFullPathName(utf8Name, full))
        utf8Out << full.c_str();
    else
        utf8Out << utf8Name;
}

bool FileSys::createDirectory(const char* utf8Name)
{
    return platform::createDirectory(utf8Name);
}
bool FileSys::moveFile(const char* utf8From, const char* utf8To)
{
    return platform::moveFile(utf8From, utf8To);
}
bool FileSys::deleteFile(const char* utf8Name)
{
    return platform::deleteFile(utf8Name);
}

bool FileSys::checkFileName(const char* name, LogBase* log)
{
    if (!name) return false;
    static const struct {
        char c;
        const char* line;
    } kForbidden[] = {
        {'<', "Filename cannot contain a '<'"},
        {'>', "Filename cannot contain a '>'"},
        {'"', "Filename cannot contain a double-quote character"},
        {'?', "Filename cannot contain a question-mark character"},
        {'*', "Filename cannot contain a * character"},
        {'|', "Filename cannot contain a | character"},
    };
    for (const auto& f : kForbidden) {
        if (std::strchr(name, f.c)) {
            if (log) log->logError(f.line);
            return false;
        }
    }
    return true;
}

FileHandle FileSys::openForRead(const XString& name, LogBase* log)
{
    return openForRead(name.getUtf8(), NameForm::Wide, log);
}

FileHandle FileSys::openForWrite(const XString& name, LogBase* log)
{
    return openForWrite(name.getUtf8(), NameForm::Wide, log);
}

FileHandle FileSys::openForReadWrite(const XString& name, LogBase* log)
{
    return openForReadWrite(name.getUtf8(), NameForm::Wide, log);
}

FileHandle FileSys::openDirectoryForRead(const XString& name, LogBase* log)
{
    return openDirectoryForRead(name.getUtf8(), NameForm::Wide, log);
}

bool FileSys::loadFile(const XString& name, DataBuffer& out, LogBase* log)
{
    return loadFile(name.getUtf8(), NameForm::Wide, out, log);
}

bool FileSys::loadFile(const XString& name, StringBuffer& out, LogBase* log)
{
    return loadFile(name.getUtf8(), out, log);
}

StringBuffer* FileSys::loadFileOrFileUrl(const XString& name, LogBase* log)
{
    return loadFileOrFileUrl(name.getUtf8(), log);
}

bool FileSys::writeFile(const XString& name, const void* bytes, uint32_t n, LogBase* log)
{
    return writeFile(name.getUtf8(), bytes, n, log);
}

void FileSys::getCurrentDirectory(XString& out)
{
    StringBuffer dir;
    getCurrentDirectory(dir);
    out.setFromUtf8(dir.getString());
}

bool FileSys::setCurrentDirectory(const XString& name)
{
    return setCurrentDirectory(name.getUtf8());
}

void FileSys::getTempPath(XString& out)
{
    StringBuffer dir;
    getTempPath(dir);
    out.setFromUtf8(dir.getString());
}

void FileSys::getFullPathName(const XString& name, XString& out)
{
    StringBuffer full;
    getFullPathName(name.getUtf8(), full);
    out.setFromUtf8(full.getString());
}

}  // namespace hanamail
