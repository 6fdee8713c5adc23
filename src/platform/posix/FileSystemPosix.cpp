#include <cerrno>
#include <cstdlib>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/FileSystem.h"
#include "platform/Platform.h"

namespace hanamail {

namespace platform {

namespace {

bool emptyName(const char* name)
{
    if (name && *name) return false;
    errno = ENOENT;
    return true;
}

}  // namespace

// POSIX has no sharing modes, so there is nothing to retry.
FileHandle openFile(const char* utf8Name, FileOpenMode mode)
{
    if (emptyName(utf8Name)) return kInvalidFile;
    int flags = O_CLOEXEC;
    switch (mode) {
        case FileOpenMode::Read:
        case FileOpenMode::ReadDirectory: flags |= O_RDONLY; break;
        case FileOpenMode::Write: flags |= O_WRONLY | O_CREAT | O_TRUNC; break;
        case FileOpenMode::ReadWrite: flags |= O_RDWR | O_CREAT; break;
        // O_EXCL already refuses a link in the last place; O_NOFOLLOW says so outright.
        case FileOpenMode::CreateNew: flags |= O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW; break;
    }
    int fd;
    do {
        fd = ::open(utf8Name, flags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return kInvalidFile;
    if (mode == FileOpenMode::Read) {
        // A directory opens for reading here but not on Windows; refuse it alike.
        struct stat st {};
        if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
            ::close(fd);
            errno = EISDIR;
            return kInvalidFile;
        }
    }
    return static_cast<FileHandle>(fd);
}

bool lastErrorWasFileExists()
{
    return errno == EEXIST;
}

void closeFile(FileHandle h)
{
    if (h == kInvalidFile) return;
    int saved = errno;
    ::close(static_cast<int>(h));
    errno = saved;
}

bool getFileSize(FileHandle h, uint64_t& size)
{
    size = 0;
    struct stat st {};
    if (h == kInvalidFile) {
        errno = EBADF;
        return false;
    }
    if (::fstat(static_cast<int>(h), &st) != 0) return false;
    size = st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;
    return true;
}

bool readFile(FileHandle h, void* buf, uint32_t n, uint32_t& got)
{
    got = 0;
    auto* p = static_cast<unsigned char*>(buf);
    while (got < n) {
        ssize_t r = ::read(static_cast<int>(h), p + got, n - got);
        if (r < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (r == 0) break;
        got += static_cast<uint32_t>(r);
    }
    return true;
}

bool writeFile(FileHandle h, const void* buf, uint32_t n, uint32_t& written)
{
    written = 0;
    const auto* p = static_cast<const unsigned char*>(buf);
    while (written < n) {
        ssize_t r = ::write(static_cast<int>(h), p + written, n - written);
        if (r < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (r == 0) {
            errno = EIO;
            return false;
        }
        written += static_cast<uint32_t>(r);
    }
    return true;
}

bool deleteFile(const char* utf8Name)
{
    return !emptyName(utf8Name) && ::unlink(utf8Name) == 0;
}

bool moveFile(const char* utf8From, const char* utf8To)
{
    return !emptyName(utf8From) && !emptyName(utf8To) && ::rename(utf8From, utf8To) == 0;
}

bool createDirectory(const char* utf8Name)
{
    return !emptyName(utf8Name) && ::mkdir(utf8Name, 0777) == 0;
}

bool getCurrentDirectory(std::string& utf8Out)
{
    utf8Out.clear();
    std::vector<char> buf(512);
    for (;;) {
        if (::getcwd(buf.data(), buf.size())) {
            utf8Out = buf.data();
            return true;
        }
        if (errno != ERANGE || buf.size() > (1u << 20)) return false;
        buf.resize(buf.size() * 2);
    }
}

bool setCurrentDirectory(const char* utf8Name)
{
    return !emptyName(utf8Name) && ::chdir(utf8Name) == 0;
}

bool getTempPath(std::string& utf8Out)
{
    const char* dir = std::getenv("TMPDIR");
    utf8Out = (dir && *dir) ? dir : "/tmp";
    if (utf8Out.back() != '/') utf8Out.push_back('/');
    return true;
}

bool getFullPathName(const char* utf8Name, std::string& utf8Out)
{
    utf8Out.clear();
    if (emptyName(utf8Name)) return false;
    std::string path;
    if (utf8Name[0] != '/') {
        if (!getCurrentDirectory(path)) return false;
        path.push_back('/');
    }
    path += utf8Name;
    // Resolve "." and ".." by the text alone, as the name need not exist.
    std::vector<std::string> parts;
    size_t i = 0;
    while (i <= path.size()) {
        size_t j = path.find('/', i);
        if (j == std::string::npos) j = path.size();
        std::string part = path.substr(i, j - i);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        i = j + 1;
    }
    for (const std::string& part : parts) {
        utf8Out.push_back('/');
        utf8Out += part;
    }
    if (utf8Out.empty())
        utf8Out.assign(1, '/');  // (a literal here trips a false -Wrestrict in GCC 12 at -O3)
    else if (path.back() == '/')
        utf8Out.push_back('/');
    return true;
}

std::string lastErrorText()
{
    return systemErrorText(lastErrorCode());
}
void setLastErrorFileTooLarge()
{
    errno = EFBIG;
}
void setLastErrorNoMemory()
{
    errno = ENOMEM;
}

// POSIX streams never translate line ends.
void setStdStreamsBinary() {}

FileHandle standardInput()
{
    return STDIN_FILENO;
}
FileHandle standardOutput()
{
    return STDOUT_FILENO;
}

}  // namespace platform

}  // namespace hanamail
