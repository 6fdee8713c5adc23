#include "foundation/Logger.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>
#include <string>

#include "foundation/ClsBase.h"
#include "foundation/FileSys.h"
#include "foundation/LogEntry.h"
#include "foundation/LogNull.h"
#include "foundation/StringBuffer.h"
#include "platform/Platform.h"

using namespace hanamail;

namespace {

const char* kDeclaration = "<?xml version=\"1.0\"  encoding=\"utf-8\" standalone=\"yes\" ?>\n";

std::string textOf(LogBase& log)
{
    StringBuffer sb;
    log.getText(sb);
    return sb.getString();
}

std::string xmlOf(LogBase& log)
{
    StringBuffer sb;
    log.getXml(sb);
    return sb.getString();
}

// A fresh directory per test: several builds may run this suite at once.
class TempDir {
public:
    TempDir()
    {
        auto base = std::filesystem::temp_directory_path();
        for (int i = 0;; ++i) {
            m_path = base / ("hanamail_log_" + std::to_string(platform::tickCount()) + "_" + std::to_string(i));
            std::error_code ec;
            if (std::filesystem::create_directory(m_path, ec)) break;
        }
    }
    ~TempDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    std::string file(const char* leaf) const { return (m_path / leaf).string(); }

private:
    std::filesystem::path m_path;
};

std::string readAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Whether s matches pattern, where '9' stands for a decimal digit and 'x' for
// one or more lower-case hexadecimal digits.
bool matches(const std::string& s, const char* pattern)
{
    size_t i = 0;
    for (const char* p = pattern; *p; ++p) {
        if (*p == 'x') {
            size_t start = i;
            while (i < s.size() && std::isxdigit(static_cast<unsigned char>(s[i])) &&
                   !std::isupper(static_cast<unsigned char>(s[i])))
                ++i;
            if (i == start) return false;
        } else if (i >= s.size() || (*p == '9' ? !std::isdigit(static_cast<unsigned char>(s[i])) : s[i] != *p)) {
            return false;
        } else {
            ++i;
        }
    }
    return i == s.size();
}

// The log of an address that fails validation, with a debug line and a two-line message.
void recordAddTo(Logger& log)
{
    log.clearLog();
    log.enterContext("AddTo", true);
    log.logData("name", "Bob");
    log.logData("address", "bob");
    log.logError("Invalid email address");
    log.logDebug("checked the domain");
    log.logInfo("first line\r\nsecond line");
    log.leaveContext();
}

TEST(LoggerForms, TextXmlAndHtmlOfOneOperation)
{
    Logger log;
    recordAddTo(log);
    EXPECT_EQ(textOf(log), "name: Bob\r\naddress: bob\r\nInvalid email address\r\nfirst line\r\n  second line\r\n");
    EXPECT_EQ(xmlOf(log),
              "<TembrixLog>\n"
              "<AddTo>\n"
              "    <name>Bob</name>\n"
              "    <address>bob</address>\n"
              "    <error>Invalid email address</error>\n"
              "    <debug>checked the domain</debug>\n"
              "    <info><![CDATA[first line\n  second line]]></info>\n"
              "</AddTo>\n"
              "</TembrixLog>\n");
    StringBuffer html;
    log.logData("cmp", "a<b");
    log.getHtml(html);
    EXPECT_EQ(std::string(html.getString()),
              "name: Bob<br>address: bob<br>Invalid email address<br>first line<br>  second line<br>cmp: a&lt;b<br>");
    // Rendering the HTML form does not change the text form.
    EXPECT_EQ(textOf(log),
              "name: Bob\r\naddress: bob\r\nInvalid email address\r\nfirst line\r\n  second line\r\n"
              "cmp: a<b\r\n");
}

TEST(LoggerForms, NestedOpenAndRawXml)
{
    Logger log;
    log.enterContext("Outer", true);
    log.enterContext("Inner", false);
    log.logData("value", "a<b");
    log.logData("plain", "plain");
    log.logXml("<raw attr=\"1\"/>");
    log.logMessage('I', "tagged", "kw");
    log.leaveContext();
    log.enterContext("Open", true);
    log.logInfo("x & y");
    // Outer and Open are still open: closed at the end, innermost first, without indentation.
    EXPECT_EQ(xmlOf(log),
              "<TembrixLog>\n"
              "<Outer>\n"
              "    <Inner>\n"
              "        <value><![CDATA[a<b]]></value>\n"
              "        <plain>plain</plain>\n"
              "<raw attr=\"1\"/>\n"
              "        <info keyword=\"kw\">tagged</info>\n"
              "    </Inner>\n"
              "    <Open>\n"
              "        <info><![CDATA[x & y]]></info>\n"
              "</Open>\n"
              "</Outer>\n"
              "</TembrixLog>\n");
}

TEST(LoggerForms, CdataSectionsStayWellFormed)
{
    Logger log;
    log.logData("tab", "a\tb");
    log.logData("wrapped", "<![CDATA[x<y]]>");
    log.logData("terminator", "a]]>b");
    log.logData("mixed", "<![CDATA[x]]> & y");
    log.logInfo("end ]]> here\nsecond");
    EXPECT_EQ(xmlOf(log),
              "<TembrixLog>\n"
              "<tab><![CDATA[a\tb]]></tab>\n"
              "<wrapped><![CDATA[x<y]]></wrapped>\n"
              "<terminator><![CDATA[a]]]]><![CDATA[>b]]></terminator>\n"
              "<mixed><![CDATA[<![CDATA[x]]]]><![CDATA[> & y]]></mixed>\n"
              "<info><![CDATA[end ]]]]><![CDATA[> here\n  second]]></info>\n"
              "</TembrixLog>\n");
}

TEST(LoggerForms, ControlBytesNeverReachTheXml)
{
    Logger log;
    log.logData("reply", "250 ok\x01\x1b[0m");
    log.logError("bad\x07 reply");
    log.logXml("<raw>\x02</raw>");  // raw XML lines are the caller's own
    EXPECT_EQ(xmlOf(log),
              "<TembrixLog>\n"
              "<reply>250 ok??[0m</reply>\n"
              "<error>bad? reply</error>\n"
              "<raw>\x02</raw>\n"
              "</TembrixLog>\n");
}

TEST(LoggerRecording, EmptyContextsLeaveNoTrace)
{
    Logger log;
    log.enterContext("Outer", true);
    log.enterContext("Inner", true);
    log.leaveContext();
    log.leaveContext();
    EXPECT_TRUE(log.isEmpty());
    EXPECT_EQ(textOf(log), "");
    EXPECT_EQ(xmlOf(log), "<TembrixLog>\n</TembrixLog>\n");
    // A context left with nothing open records nothing either.
    EXPECT_FALSE(log.leaveContext());
    EXPECT_TRUE(log.isEmpty());
}

TEST(LoggerRecording, KeysTextsAndTheErrorFlag)
{
    Logger log;
    EXPECT_TRUE(log.logData(" file name ", "a.txt"));
    EXPECT_FALSE(log.logData(" \t", "dropped"));
    EXPECT_FALSE(log.logData(nullptr, "dropped"));
    EXPECT_TRUE(log.logData("empty", ""));
    EXPECT_TRUE(log.logData("null", nullptr));
    EXPECT_TRUE(log.logDataLong("count", -42));
    EXPECT_FALSE(log.logInfo(""));
    EXPECT_FALSE(log.logDebug(nullptr));
    EXPECT_FALSE(log.logInfo("\r\n\r\n"));
    EXPECT_EQ(textOf(log), "file_name: a.txt\r\nempty: \r\nnull: \r\ncount: -42\r\n");

    EXPECT_FALSE(log.hadError());
    EXPECT_FALSE(log.logError(""));
    EXPECT_TRUE(log.hadError());
    log.clearEntries();
    EXPECT_TRUE(log.hadError());
    EXPECT_TRUE(log.isEmpty());
    log.clearLog();
    EXPECT_FALSE(log.hadError());

    log.logTickCount("ticks");
    EXPECT_TRUE(matches(textOf(log), "ticks: x\r\n")) << textOf(log);

    log.clearLog();
    log.logError("one");
    log.logInfo("two");
    log.logError("three");
    StringBuffer summary;
    EXPECT_TRUE(log.getErrorSummary(summary));
    EXPECT_EQ(std::string(summary.getString()), "one\r\nthree\r\n");
}

TEST(LoggerSaving, SavedFilesAndErrorText)
{
    TempDir dir;
    ClsBase obj;
    std::string path = dir.file("saved.xml");
    obj.getLog().enterContext("SendEmail", true);
    obj.getLog().leaveContext();
    ASSERT_TRUE(obj.saveErrorXml(("  " + path + "\r\n").c_str()));
    EXPECT_EQ(readAll(path), std::string(kDeclaration) + "<TembrixLog>The log is empty</TembrixLog>");

    recordAddTo(obj.getLog());
    ASSERT_TRUE(obj.saveErrorXml(path.c_str()));
    EXPECT_EQ(readAll(path), kDeclaration + xmlOf(obj.getLog()));

    ASSERT_TRUE(obj.getLog().saveXml(true, path.c_str()));
    std::string dated = readAll(path);
    size_t at = dated.find("\n    <error date=\"");
    ASSERT_NE(at, std::string::npos) << dated;
    EXPECT_TRUE(
        matches(dated.substr(at, 69), "\n    <error date=\"99/99/9999 99:99:99\">Invalid email address</error>\n"))
        << dated.substr(at, 69);
    EXPECT_FALSE(obj.saveErrorXml("   "));
    EXPECT_FALSE(obj.saveErrorXml(""));
    EXPECT_FALSE(obj.saveErrorXml(nullptr));
    EXPECT_FALSE(obj.getLog().saveXml(false, nullptr));
    std::string missingDir = dir.file("no_such_dir") + "/x.xml";
    EXPECT_FALSE(obj.saveErrorXml(missingDir.c_str()));

    // The text form of ErrorInfo: data values with bare line ends come out as CR LF too.
    obj.getLog().clearLog();
    obj.getLog().logData("reply", "250 ok\n250 size");
    StringBuffer text;
    obj.getErrorTextUtf8(text, true);
    EXPECT_EQ(std::string(text.getString()), "reply: 250 ok\r\n250 size\r\n");
    obj.getErrorTextUtf8(text, false);
    EXPECT_EQ(std::string(text.getString()), "reply: 250 ok\n250 size\r\n");
}

TEST(LogNullTest, AcceptsEverythingRecordsNothing)
{
    LogNull log;
    EXPECT_TRUE(log.logError("e"));
    EXPECT_TRUE(log.logData("k", "v"));
    EXPECT_TRUE(log.enterContext("C", true));
    EXPECT_TRUE(log.saveXml(false, "/nonexistent/dir/x.xml"));
    EXPECT_FALSE(log.hadError());
    EXPECT_EQ(textOf(log), "");
    EXPECT_EQ(xmlOf(log), "");
}

#ifndef NDEBUG
TEST(LogEntryDeathTest, DestroyedEntryTraps)
{
    alignas(LogEntry) unsigned char storage[sizeof(LogEntry)];
    auto* e = new (storage) LogEntry(LogEntry::kMessage, LogEntry::kLevelInfo, "x", nullptr);
    e->~LogEntry();
    // Under UBSan the vptr check may stop the call before the check byte does.
    EXPECT_DEATH(e->text(), "destroyed or overwritten LogEntry|invalid vptr");
}
#endif

}  // namespace
