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

// Writes each script into dir and runs them in turn with dir as argument,
// stopping at the first that fails; all output goes to log. Returns the
// shell's status (0 when every script succeeded).
inline int runScripts(const fs::path& dir, std::initializer_list<Script> scripts, const fs::path& log)
{
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
