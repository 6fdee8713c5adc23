#pragma once
// The frame shared by the tests that let Python judge what we write: a fresh
// folder of inputs, scripts run over it, and their complaints as the failure
// message.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <random>
#include <sstream>
#include <string>
#include <utility>

namespace pyjudge {

namespace fs = std::filesystem;

inline void writeFile(const fs::path& p, const std::string& data)
{
    std::ofstream f(p, std::ios::binary);
    f.write(data.data(), static_cast<std::streamsize>(data.size()));
}

inline std::string readFile(const fs::path& p)
{
    std::ifstream f(p, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

// Lower-case hex; "-" for nothing, so that a tab-separated field is never empty.
inline std::string hex(const std::string& s)
{
    static const char digits[] = "0123456789abcdef";
    std::string r;
    for (unsigned char c : s) {
        r += digits[c >> 4];
        r += digits[c & 15];
    }
    return r.empty() ? "-" : r;
}

// True when python3 runs the statement (an import of what the judge needs).
inline bool pythonRuns(const char* statement)
{
    const std::string cmd = std::string("python3 -c '") + statement + "' > /dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
}

using Script = std::pair<const char*, const char*>;  // file name, text

// What the email judges share, written beside them as judgelib.py (a judge
// runs from that folder, so "from judgelib import ..." finds it).
const char* const kJudgeLib = R"PY(
import os

# Encoded words inside quoted parameter values: the form mail programs read,
# which Python reads too but notes as these two defects.
PARAM_WORD_DEFECTS = {'encoded word inside quoted string', 'missing trailing whitespace after encoded-word'}


def shape(p):
    if p.is_multipart():
        return p.get_content_type() + '(' + ','.join(shape(c) for c in p.iter_parts()) + ')'
    return p.get_content_type()


def emails(d):
    """Each .eml file of d in name order: its name without .eml, its bytes."""
    for name in sorted(os.listdir(d)):
        if name.endswith('.eml'):
            with open(os.path.join(d, name), 'rb') as f:
                yield name[:-4], f.read()


def check_lines(stem, raw, bad, controls=(9,), seven_bit=True):
    """Lines of at most 998 bytes ended by CR LF; with seven_bit, no 8-bit
    byte and no control byte but those in controls."""
    for ln in raw.split(b'\r\n'):
        if len(ln) > 998:
            bad.append('%s: line of %d bytes' % (stem, len(ln)))
        if seven_bit and any(b >= 0x80 or (b < 0x20 and b not in controls) for b in ln):
            bad.append('%s: raw byte in %r' % (stem, ln[:80]))
    if b'\n' in raw.replace(b'\r\n', b''):
        bad.append('%s: bare line end' % stem)
)PY";

// Writes each script into dir and runs them in turn with dir as argument,
// stopping at the first that fails; all output goes to log. Returns the
// shell's status (0 when every script succeeded).
inline int runScripts(const fs::path& dir, std::initializer_list<Script> scripts, const fs::path& log)
{
    writeFile(dir / "judgelib.py", kJudgeLib);
    std::string cmd;
    for (const Script& s : scripts) {
        writeFile(dir / s.first, s.second);
        const bool first = cmd.empty();
        if (!first) cmd += " && ";
        cmd += "python3 '" + (dir / s.first).string() + "' '" + dir.string() + (first ? "' > '" : "' >> '") +
               log.string() + "' 2>&1";
    }
    return std::system(cmd.c_str());
}

// A test with its own folder, removed afterwards.
class JudgeTest : public ::testing::Test {
protected:
    // Fails the test unless python3 runs the statement; else makes the folder.
    void prepare(const char* statement, const char* folderPrefix)
    {
        if (!pythonRuns(statement)) FAIL() << "python3 is the judge here and is missing (scripts/setup installs it)";
        std::random_device rd;
        m_dir = fs::temp_directory_path() / (folderPrefix + std::to_string(rd()));
        fs::create_directories(m_dir);
    }
    void TearDown() override
    {
        if (!m_dir.empty()) {
            std::error_code ec;
            fs::remove_all(m_dir, ec);
        }
    }
    // Runs the scripts over the folder; their complaints go to the failure message.
    void runJudges(std::initializer_list<Script> scripts)
    {
        const fs::path log = m_dir / "verdict.log";
        EXPECT_EQ(runScripts(m_dir, scripts, log), 0) << readFile(log);
    }

    fs::path m_dir;
};

}  // namespace pyjudge
