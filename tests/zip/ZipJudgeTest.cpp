#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "ZipTestSupport.h"
#include "zip/ClsZip2.h"
#include "zip/ZipDn.h"

using namespace hanamail;

namespace {

#ifdef _WIN32
TEST(ZipJudges, ArchivesPassZipfileUnzipAndZipinfo)
{
    GTEST_SKIP() << "the judges run on the POSIX build";
}
#else

void writeFile(const std::filesystem::path& p, const std::string& bytes)
{
    std::ofstream(p, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Python's zipfile, unzip and zipinfo judge the archive against what went in
// (tests/zip/judge_zip.py).
TEST(ZipJudges, ArchivesPassZipfileUnzipAndZipinfo)
{
    if (std::system("python3 -c 'import zipfile' >/dev/null 2>&1") != 0)
        FAIL() << "python3 is the judge here and is missing (scripts/setup installs it)";
    std::mt19937 rng(20240613);
    std::string random(300000, '\0');
    for (char& c : random) c = static_cast<char>(rng());
    std::string text;
    for (int i = 0; i < 3000; ++i) text += "Zeile " + std::to_string(i) + ": caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC\r\n";
    struct Entry {
        const char* given;
        std::string bytes;
        const char* extracted;
        int method;
        bool utf8;
    };
    const std::vector<Entry> entries = {
        {"notes.txt", text, "notes.txt", 8, false},
        {"random.bin", random, "random.bin", 8, false},
        {"empty.txt", "", "empty.txt", 0, false},
        {"報告.pdf", "%PDF-1.4 report", "報告.pdf", 8, true},
        {"計画.pdf", "%PDF-1.4 plan", "計画.pdf", 8, true},
        {"dir\\sub.txt", "sub", "dir/sub.txt", 8, false},
        {"caf\xC3\xA9.txt", "menu", "caf\xC3\xA9.txt", 8, false},
        {"../../x.exe", "MZ", "x.exe", 8, false},
        {"\xED\xA0\xBD\xED\xB3\x84 memo.txt", "memo", "\xF0\x9F\x93\x84 memo.txt", 8, true},
    };

    ZipDn dn = ZipDn::createNewArchive();
    dn.archive()->setFilenameCodePage(437);
    auto dir = std::filesystem::temp_directory_path() / ("hanamail-zip-" + std::to_string(std::random_device{}()));
    std::filesystem::create_directories(dir);
    std::string manifest;
    for (size_t i = 0; i < entries.size(); ++i) {
        const Entry& e = entries[i];
        ZipEntryDn added =
            e.bytes.empty() ? dn.archive()->AppendEmpty(e.given)
                            : dn.archive()->AppendData(e.given, e.bytes.data(), static_cast<uint32_t>(e.bytes.size()));
        ASSERT_FALSE(added.isNull()) << e.given;
        auto data = dir / std::to_string(i);
        writeFile(data, e.bytes);
        for (unsigned char c : std::string(e.extracted))
            manifest += "0123456789abcdef"[c >> 4], manifest += "0123456789abcdef"[c & 15];
        manifest += ' ';
        manifest += std::to_string(e.method);
        manifest += e.utf8 ? " 1 " : " 0 ";
        manifest += data.string();
        manifest += '\n';
    }
    DataBuffer out;
    ASSERT_TRUE(dn.archive()->WriteToMemory(out));
    writeFile(dir / "out.zip", ziptest::bytesOf(out));
    writeFile(dir / "manifest", manifest);

    std::string cmd = "python3 '" HANAMAIL_SOURCE_DIR "/tests/zip/judge_zip.py' '" + dir.string() + "/out.zip' '" +
                      dir.string() + "/manifest'";
    int rc = std::system(cmd.c_str());
    int status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    if (status == 0) std::filesystem::remove_all(dir);
    if (status == 77) FAIL() << "unzip or zipinfo is a judge here and is missing (scripts/setup installs them)";
    EXPECT_EQ(status, 0) << "judges disagree; archive kept in " << dir;
}
#endif

}  // namespace
