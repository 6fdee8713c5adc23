#include "foundation/FileSys.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "component/ClsFileSys.h"
#include "foundation/DataBuffer.h"
#include "foundation/Logger.h"
#include "foundation/StringBuffer.h"
#include "foundation/XString.h"
#include "platform/FileSystem.h"
#include "platform/Platform.h"

using namespace hanamail;

namespace {

namespace fs = std::filesystem;

class TempDir {
public:
    TempDir()
    {
        auto base = fs::temp_directory_path();
        for (int i = 0;; ++i) {
            m_path = base / ("hanamail_fs_" + std::to_string(platform::tickCount()) + "_" + std::to_string(i));
            std::error_code ec;
            if (fs::create_directory(m_path, ec)) break;
        }
        // Generic separators, so that names can be extended with "/" on both platforms.
        std::u8string u8 = m_path.generic_u8string();
        m_name.assign(reinterpret_cast<const char*>(u8.data()), u8.size());
    }
    ~TempDir()
    {
        std::error_code ec;
        fs::remove_all(m_path, ec);
    }
    // UTF-8 name of a file in the directory.
    std::string file(const std::string& leaf) const { return m_name + "/" + leaf; }
    const std::string& name() const { return m_name; }

private:
    fs::path m_path;
    std::string m_name;
};

std::string textOf(Logger& log)
{
    StringBuffer sb;
    log.getText(sb);
    return sb.getString();
}

std::string bytesOf(const DataBuffer& db)
{
    return std::string(reinterpret_cast<const char*>(db.getData()), db.getSize());
}

void put(const std::string& utf8Name, const std::string& bytes)
{
    ASSERT_TRUE(FileSys::writeFile(utf8Name.c_str(), bytes.data(), static_cast<uint32_t>(bytes.size()), nullptr))
        << utf8Name;
}

std::string osText(uint32_t posixCode, uint32_t winCode)
{
#ifdef _WIN32
    (void)posixCode;
    return platform::systemErrorText(winCode);
#else
    (void)winCode;
    return platform::systemErrorText(posixCode);
#endif
}

const uint32_t kNotFound[2] = {2, 2};  // ENOENT, ERROR_FILE_NOT_FOUND

TEST(FileSysLoad, WholeFilesIntoDataBuffer)
{
    TempDir dir;
    const std::string content("abc\0\xff\r\ndef", 9);
    put(dir.file("a.bin"), content);
    put(dir.file("empty"), "");

    Logger log;
    DataBuffer db;
    ASSERT_TRUE(FileSys::loadFile(dir.file("a.bin").c_str(), db, &log));
    EXPECT_EQ(bytesOf(db), content);
    EXPECT_EQ(db.getCapacity(), 9u);

    ASSERT_TRUE(FileSys::loadFile(dir.file("empty").c_str(), db, &log));
    EXPECT_EQ(db.getSize(), 0u);
    EXPECT_EQ(textOf(log), "");

    // A failed load leaves the buffer empty, not holding the previous file.
    ASSERT_TRUE(FileSys::loadFile(dir.file("a.bin").c_str(), db, &log));
    std::string missing = dir.file("missing.txt");
    EXPECT_FALSE(FileSys::loadFile(missing.c_str(), db, &log));
    EXPECT_EQ(db.getSize(), 0u);
    EXPECT_EQ(textOf(log), "Failed to open file (2)\r\nfilename: " + missing +
                               "\r\nosErrorInfo: " + osText(kNotFound[0], kNotFound[1]) + "\r\n");

    // By the wide name the open reports (3).
    log.clearLog();
    EXPECT_FALSE(FileSys::loadFile(missing.c_str(), FileSys::NameForm::Wide, db, &log));
    EXPECT_EQ(textOf(log).rfind("Failed to open file (3)\r\nfilename: " + missing + "\r\nosErrorInfo: ", 0), 0u);

    // A directory is not a file.
    log.clearLog();
    EXPECT_FALSE(FileSys::loadFile(dir.name().c_str(), db, &log));
    EXPECT_EQ(textOf(log).rfind("Failed to open file (2)\r\nfilename: " + dir.name() + "\r\nosErrorInfo: ", 0), 0u);

    log.clearLog();
    EXPECT_FALSE(FileSys::loadFile("", db, &log));
    EXPECT_EQ(textOf(log), "Cannot open file, filename is empty.\r\n");
    EXPECT_FALSE(FileSys::loadFile(nullptr, db, nullptr));
}

TEST(FileSysLoad, TextWithByteOrderMarks)
{
    TempDir dir;
    struct Case {
        const char* leaf;
        std::string bytes;
        std::string text;
    };
    const Case cases[] = {
        {"le",
         std::string("\xff\xfe"
                     "A\0\x42\x30",
                     6),
         "A\xe3\x81\x82"},
        {"be", std::string("\xfe\xff\0A\x30\x42", 6), "A\xe3\x81\x82"},
        {"utf8", "\xef\xbb\xbfhello", "hello"},
        {"bomonly", "\xef\xbb\xbf", "\xef\xbb\xbf"},  // kept as it is
        {"plain", "no mark\r\n", "no mark\r\n"},
        {"empty", "", ""},
    };
    for (const Case& c : cases) {
        put(dir.file(c.leaf), c.bytes);
        StringBuffer sb("x:");
        Logger log;
        EXPECT_TRUE(FileSys::loadFile(dir.file(c.leaf).c_str(), sb, &log)) << c.leaf;
        EXPECT_EQ(std::string(sb.getString(), static_cast<size_t>(sb.getSize())), "x:" + c.text) << c.leaf;
        EXPECT_EQ(textOf(log), "") << c.leaf;
    }
}

TEST(FileSysLoad, FileUrls)
{
    TempDir dir;
    put(dir.file("a.htm"), "<html/>");
    std::string path = dir.file("a.htm");
    // "file:///" followed by a drive ("C:/x") or by an absolute POSIX path ("/tmp/x").
    std::string url = path[0] == '/' ? "FILE://" + path : "file:///" + path;
    std::unique_ptr<StringBuffer> sb(FileSys::loadFileOrFileUrl(url.c_str(), nullptr));
    ASSERT_TRUE(sb);
    EXPECT_EQ(std::string(sb->getString()), "<html/>");
    sb.reset(FileSys::loadFileOrFileUrl(path.c_str(), nullptr));
    ASSERT_TRUE(sb);
    EXPECT_EQ(std::string(sb->getString()), "<html/>");

    Logger log;
    EXPECT_EQ(FileSys::loadFileOrFileUrl(dir.file("none.htm").c_str(), &log), nullptr);
    EXPECT_EQ(textOf(log).rfind("Failed to open file (2)\r\n", 0), 0u);

#ifndef _WIN32
    // "C|/pages/a.htm" names "C:/pages/a.htm", here relative to the current directory.
    StringBuffer before;
    ASSERT_TRUE(FileSys::getCurrentDirectory(before));
    ASSERT_TRUE(FileSys::setCurrentDirectory(dir.name().c_str()));
    ASSERT_TRUE(FileSys::createDirectory("C:"));
    ASSERT_TRUE(FileSys::createDirectory("C:/pages"));
    put("C:/pages/a.htm", "page");
    sb.reset(FileSys::loadFileOrFileUrl("file:///C|/pages/a.htm", nullptr));
    EXPECT_TRUE(FileSys::setCurrentDirectory(before.getString()));
    ASSERT_TRUE(sb);
    EXPECT_EQ(std::string(sb->getString()), "page");
#endif
}

TEST(FileSysWrite, CreateTruncateAndFailures)
{
    TempDir dir;
    std::string name = dir.file("out.txt");
    put(name, "old content");
    Logger log;
    EXPECT_TRUE(FileSys::writeFile(name.c_str(), "new", 0, &log));
    bool ok = false;
    EXPECT_EQ(FileSys::getFileSize(name.c_str(), &log, ok), 0u);
    EXPECT_TRUE(ok);
    EXPECT_TRUE(FileSys::writeFile(name.c_str(), nullptr, 5, &log));
    EXPECT_TRUE(FileSys::writeFile(name.c_str(), "12345", 5, &log));
    EXPECT_EQ(FileSys::getFileSize(name.c_str(), &log, ok), 5u);
    EXPECT_TRUE(ok);
    EXPECT_EQ(textOf(log), "");

    EXPECT_FALSE(FileSys::writeFile("", "x", 1, &log));
    EXPECT_FALSE(FileSys::writeFile(nullptr, "x", 1, &log));
    EXPECT_EQ(textOf(log), "");

    std::string bad = dir.file("no_dir/out.txt");
    EXPECT_FALSE(FileSys::writeFile(bad.c_str(), "x", 1, &log));
    EXPECT_EQ(textOf(log), "Failed to open file (2)\r\nfilename: " + bad + "\r\nosErrorInfo: " + osText(2, 3) +
                               "\r\nfilename: " + bad + "\r\nFailed to write complete file (7)\r\n");
}

TEST(FileSysQuery, SizeExistenceAndNames)
{
    TempDir dir;
    std::string name = dir.file("seven");
    put(name, "1234567");
    Logger log;
    bool ok = false;
    EXPECT_EQ(FileSys::getFileSize(name.c_str(), &log, ok), 7u);
    EXPECT_TRUE(ok);
    EXPECT_TRUE(FileSys::fileExists(name.c_str(), nullptr));
    EXPECT_FALSE(FileSys::fileExists(dir.name().c_str(), nullptr));
    EXPECT_FALSE(FileSys::fileExists(dir.file("none").c_str(), nullptr));
    EXPECT_EQ(textOf(log), "");

    EXPECT_EQ(FileSys::getFileSize("", &log, ok), 0u);
    EXPECT_FALSE(ok);
    EXPECT_EQ(textOf(log), "");
    EXPECT_EQ(FileSys::getFileSize(dir.file("none").c_str(), &log, ok), 0u);
    EXPECT_FALSE(ok);
    EXPECT_EQ(textOf(log).rfind("Failed to open file (2)\r\n", 0), 0u);

    // A name outside the ANSI code page is used in its wide form; where the
    // ANSI code page is UTF-8 every name fits it.
    std::string wide = dir.file("\xe6\x97\xa5\xe6\x9c\xac.txt");
    put(wide, "jp");
    DataBuffer db;
    EXPECT_TRUE(FileSys::loadFile(wide.c_str(), db, nullptr));
    EXPECT_EQ(bytesOf(db), "jp");
    EXPECT_EQ(FileSys::nameFitsAnsi(wide.c_str()), platform::ansiCodePage() == 65001);
    log.clearLog();
    std::string wideMissing = dir.file("\xe6\x97\xa5.txt");
    EXPECT_FALSE(FileSys::loadFile(wideMissing.c_str(), db, &log));
    if (platform::ansiCodePage() == 65001)
        EXPECT_EQ(textOf(log).rfind("Failed to open file (2)\r\nfilename: " + wideMissing + "\r\n", 0), 0u);
    else
        EXPECT_EQ(textOf(log).rfind("Failed to open file (3)\r\nutf8Filename: " + wideMissing + "\r\n", 0), 0u);
}

TEST(FileSysQuery, CheckFileName)
{
    const struct {
        const char* name;
        const char* line;
    } bad[] = {
        {"a<b>", "Filename cannot contain a '<'"},
        {"a>b", "Filename cannot contain a '>'"},
        {"a\"b?", "Filename cannot contain a double-quote character"},
        {"a?b", "Filename cannot contain a question-mark character"},
        {"a*b", "Filename cannot contain a * character"},
        {"a|b", "Filename cannot contain a | character"},
    };
    for (const auto& b : bad) {
        Logger log;
        EXPECT_FALSE(FileSys::checkFileName(b.name, &log)) << b.name;
        EXPECT_EQ(textOf(log), std::string(b.line) + "\r\n") << b.name;
    }
    Logger log;
    EXPECT_FALSE(FileSys::checkFileName(nullptr, &log));
    EXPECT_TRUE(FileSys::checkFileName("dir/a b.txt", &log));
    EXPECT_EQ(textOf(log), "");
}

TEST(FileSysDirectories, CreateMoveDeleteAndPaths)
{
    TempDir dir;
    std::string sub = dir.file("sub");
    EXPECT_TRUE(FileSys::createDirectory(sub.c_str()));
    EXPECT_FALSE(FileSys::createDirectory(sub.c_str()));
    put(sub + "/a", "A");
    put(sub + "/b", "B");
    EXPECT_TRUE(FileSys::moveFile((sub + "/a").c_str(), (sub + "/b").c_str()));
    DataBuffer db;
    EXPECT_TRUE(FileSys::loadFile((sub + "/b").c_str(), db, nullptr));
    EXPECT_EQ(bytesOf(db), "A");
    EXPECT_FALSE(FileSys::fileExists((sub + "/a").c_str(), nullptr));
    EXPECT_TRUE(FileSys::deleteFile((sub + "/b").c_str()));
    EXPECT_FALSE(FileSys::deleteFile((sub + "/b").c_str()));

    StringBuffer before, now, full;
    ASSERT_TRUE(FileSys::getCurrentDirectory(before));
    ASSERT_TRUE(FileSys::setCurrentDirectory(sub.c_str()));
    EXPECT_TRUE(FileSys::getCurrentDirectory(now));
    FileSys::getFullPathName("x/../y.txt", full);
    EXPECT_TRUE(FileSys::setCurrentDirectory(before.getString()));
    EXPECT_FALSE(FileSys::setCurrentDirectory(dir.file("none").c_str()));
    EXPECT_EQ(fs::path(now.getString()), fs::path(sub).make_preferred());
    EXPECT_EQ(fs::path(full.getString()), (fs::path(sub) / "y.txt").make_preferred());

    StringBuffer temp;
    EXPECT_TRUE(FileSys::getTempPath(temp));
    char last = temp.lastChar();
    EXPECT_TRUE(last == '/' || last == '\\');
}

TEST(ClsFileSysTest, ReadAndWriteTextFiles)
{
    TempDir dir;
    XString name, charset, text, out;
    name.setFromUtf8(dir.file("t.txt").c_str());
    charset.setFromUtf8("shift_jis");
    text.setFromUtf8("A\xe3\x81\x82\r\n");
    ClsFileSys fs;
    ASSERT_TRUE(fs.WriteTextFile(name, charset, text));
    DataBuffer db;
    ASSERT_TRUE(FileSys::loadFile(name, db, nullptr));
    EXPECT_EQ(bytesOf(db), "A\x82\xa0\r\n");
    ASSERT_TRUE(fs.ReadTextFile(name, charset, out));
    EXPECT_EQ(std::string(out.getUtf8()), "A\xe3\x81\x82\r\n");
    XString errorText;
    fs.getErrorText(errorText, true);
    EXPECT_EQ(std::string(errorText.getUtf8()), "");

    // A failed read empties the text and leaves the load's lines in the log.
    XString missing;
    std::string missingName = dir.file("missing.txt");
    missing.setFromUtf8(missingName.c_str());
    EXPECT_FALSE(fs.ReadTextFile(missing, charset, out));
    EXPECT_EQ(out.getNumChars(), 0u);
    fs.getErrorText(errorText, true);
    EXPECT_EQ(std::string(errorText.getUtf8()),
              "Failed to open file (3)\r\nfilename: " + missingName + "\r\nosErrorInfo: " + osText(2, 2) + "\r\n");
    StringBuffer xml;
    fs.getLog().getXml(xml);
    EXPECT_EQ(std::string(xml.getString())
                  .rfind("<TembrixLog>\n<ReadTextFile>\n    <error>Failed to open file (3)</error>\n", 0),
              0u);

    // Writing clears the log of the previous operation and logs nothing itself.
    XString bad;
    bad.setFromUtf8(dir.file("no_dir/x.txt").c_str());
    EXPECT_FALSE(fs.WriteTextFile(bad, charset, text));
    fs.getErrorText(errorText, true);
    EXPECT_EQ(std::string(errorText.getUtf8()), "");
}

// Text is read by one path: a byte-order mark decides over the charset named,
// and UTF-8 that is ill-formed is repaired (or, when asked, refused) rather
// than losing bytes unseen.
TEST(ClsFileSysText, MarksDecideAndUtf8IsChecked)
{
    TempDir dir;
    ClsFileSys fs;
    XString out, sjis, utf8;
    sjis.setFromUtf8("shift_jis");
    utf8.setFromUtf8("utf-8");
    const std::string text = "A\xe3\x81\x82\xf0\x9f\x98\x80\r\n";  // A, HIRAGANA A, an emoji
    const struct {
        const char* leaf;
        std::string bytes;
    } marked[] = {{"le.txt", std::string("\xff\xfe"
                                         "A\0\x42\x30\x3d\xd8\x00\xde\r\0\n\0",
                                         14)},
                  {"be.txt", std::string("\xfe\xff"
                                         "\0A\x30\x42\xd8\x3d\xde\x00\0\r\0\n",
                                         14)},
                  {"u8.txt", "\xef\xbb\xbf" + text}};
    for (const auto& m : marked) {
        XString name;
        name.setFromUtf8(dir.file(m.leaf).c_str());
        put(dir.file(m.leaf), m.bytes);
        ASSERT_TRUE(fs.ReadTextFile(name, sjis, out)) << m.leaf;
        EXPECT_EQ(std::string(out.getUtf8()), text) << m.leaf;
        ClsFileSys::Utf8Problem problem;
        ASSERT_TRUE(fs.ReadUtf8TextFile(name, out, problem)) << m.leaf;
        EXPECT_EQ(std::string(out.getUtf8()), text) << m.leaf;
    }

    XString name;
    name.setFromUtf8(dir.file("bad.txt").c_str());
    put(dir.file("bad.txt"), "ok \xed\xa0\x80 \x93");
    ASSERT_TRUE(fs.ReadTextFile(name, utf8, out));
    EXPECT_EQ(std::string(out.getUtf8()), "ok \xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd \xef\xbf\xbd");
    XString log;
    fs.getErrorText(log, false);
    EXPECT_NE(std::string(log.getUtf8()).find("Invalid UTF-8 at offset 7 replaced by U+FFFD"), std::string::npos)
        << log.getUtf8();
    ClsFileSys::Utf8Problem problem;
    EXPECT_FALSE(fs.ReadUtf8TextFile(name, out, problem));
    EXPECT_TRUE(problem.found);
    EXPECT_EQ(problem.offset, 3u);
    EXPECT_EQ(problem.byte, 0xED);
    EXPECT_EQ(out.getNumChars(), 0u);
}

#ifdef _WIN32
TEST(FileSysSharing, HeldFileIsRetriedThenReported)
{
    TempDir dir;
    std::string name = dir.file("held.txt");
    put(name, "x");
    platform::FileHandle held = platform::openFile(name.c_str(), platform::FileOpenMode::Write);
    ASSERT_NE(held, platform::kInvalidFile);
    Logger log;
    DataBuffer db;
    uint32_t start = platform::tickCount();
    EXPECT_FALSE(FileSys::loadFile(name.c_str(), FileSys::NameForm::Wide, db, &log));
    uint32_t elapsed = platform::tickCount() - start;
    platform::closeFile(held);
    EXPECT_GE(elapsed, 140u);  // three waits of 50 ms between four attempts
    EXPECT_EQ(textOf(log), "Failed to open file (3)\r\nfilename: " + name +
                               "\r\nosErrorInfo: " + platform::systemErrorText(32) + "\r\n");
    EXPECT_TRUE(FileSys::loadFile(name.c_str(), db, nullptr));
}
#endif

}  // namespace
