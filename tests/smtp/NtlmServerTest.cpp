// AUTH NTLM against the tests' Python server, which checks the NTLMv2
// response against the password it was started with; and the choice of
// LOGIN when the server offers MSN, a package this system lacks.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>

#include "charset/ContentCoding.h"
#include "foundation/Logger.h"
#include "mime/Email2.h"
#include "smtp/SmtpConnImpl.h"

using namespace hanamail;

namespace {

#ifdef _WIN32
TEST(NtlmServer, VerifiedByThePythonServer)
{
    GTEST_SKIP() << "the Python server runs on the POSIX side only; under Wine the SSPI tests cover NTLM";
}
#else

namespace fs = std::filesystem;

constexpr char kPython[] = "/usr/bin/python3";
constexpr char kUser[] = "ntlm-user";
constexpr char kPassword[] = "Pw-ntlm-Secret9";
constexpr char kDomain[] = "TESTDOM";

std::string readFile(const fs::path& p)
{
    std::ifstream f(p, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

// smtp_server.py raw as a child process: it listens until its standard
// input (our end of the pipe) closes.
class RawServer {
public:
    RawServer(const fs::path& dir, const char* mechanisms) : m_record(dir / "record.jsonl")
    {
        const fs::path out = dir / "server.out";
        const std::string script = std::string(HANAMAIL_SOURCE_DIR) + "/tests/support/smtp_server.py";
        const std::string cmd = std::string(kPython) + " '" + script + "' raw --record '" + m_record.string() +
                                "' --mechanisms " + mechanisms + " --user " + kUser + " --password " + kPassword +
                                " --domain " + kDomain + " --lifetime 60 > '" + out.string() + "' 2>&1";
        m_pipe = popen(cmd.c_str(), "w");
        for (int i = 0; m_pipe && i < 100 && m_port == 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            const std::string text = readFile(out);
            if (text.rfind("PORT ", 0) == 0) m_port = std::atoi(text.c_str() + 5);
        }
    }
    ~RawServer()
    {
        if (m_pipe) pclose(m_pipe);
    }
    int port() const { return m_port; }
    std::string record() const { return readFile(m_record); }

private:
    fs::path m_record;
    FILE* m_pipe = nullptr;
    int m_port = 0;
};

std::string base64(const std::string& s)
{
    StringBuffer out;
    ContentCoding coding;
    EXPECT_TRUE(coding.encodeBase64Flat(s.data(), static_cast<uint32_t>(s.size()), out));
    return out.getString();
}

class NtlmServer : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The system's Python is the server here: without it the test fails.
        ASSERT_TRUE(fs::exists(kPython)) << kPython << " is missing (scripts/setup installs it)";
        std::random_device rd;
        m_dir = fs::temp_directory_path() / ("hanamail_ntlm_server_" + std::to_string(rd()));
        fs::create_directories(m_dir);
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::remove_all(m_dir, ec);
    }

    // The log and transcript of one connect (and a transaction when it
    // logged in) with the password given; true when the message went.
    bool session(const RawServer& server, const char* password, std::string& text)
    {
        Logger log;
        bool sent = false;
        std::string transcript;
        {
            SmtpConnImpl conn;
            if (conn.connectAndLogin("127.0.0.1", server.port(), kUser, password, kDomain, "", 5, 5000, log)) {
                std::unique_ptr<Email2> e(Email2::NewEmail());
                EXPECT_TRUE(e->SetFrom("Sender <sender@example.com>"));
                EXPECT_TRUE(e->AddTo("", "to@example.com"));
                e->SetTextBody("hello\r\n", 7, false);
                int accepted = 0, attempted = 0;
                bool connectionFailed = false;
                sent = conn.sendTransaction(*e, nullptr, log, nullptr, accepted, attempted, connectionFailed);
            }
            transcript = conn.transcript().getString();
        }
        StringBuffer sb;
        log.getText(sb);
        text = std::string(sb.getString()) + "\n" + transcript;
        for (const std::string& secret :
             {std::string(kPassword), base64(kPassword), std::string(password), base64(password)})
            EXPECT_EQ(text.find(secret), std::string::npos) << "a password form in the log or transcript";
        return sent;
    }

    fs::path m_dir;
};

TEST_F(NtlmServer, VerifiedResponseAndWrongPassword)
{
    RawServer server(m_dir, "NTLM,LOGIN");
    ASSERT_NE(server.port(), 0) << readFile(m_dir / "server.out");

    std::string text;
    EXPECT_TRUE(session(server, kPassword, text)) << text;
    EXPECT_NE(text.find("AUTH NTLM\r\n"), std::string::npos) << text;
    EXPECT_NE(server.record().find("\"auth\": \"NTLM\""), std::string::npos) << server.record();

    EXPECT_FALSE(session(server, "Wrong-password1", text));
    const size_t denied = text.find("Logon denied.  Check username, password, and domain");
    ASSERT_NE(denied, std::string::npos) << text;
    EXPECT_NE(text.find("NTLM authentication failed", denied), std::string::npos) << text;
}

TEST_F(NtlmServer, MsnOfferGetsLogin)
{
    RawServer server(m_dir, "MSN,LOGIN");
    ASSERT_NE(server.port(), 0) << readFile(m_dir / "server.out");
    std::string text;
    EXPECT_TRUE(session(server, kPassword, text)) << text;
    EXPECT_EQ(text.find("AUTH MSN\r\n"), std::string::npos);
    EXPECT_NE(text.find("AUTH LOGIN\r\n"), std::string::npos) << text;
    EXPECT_NE(server.record().find("\"auth\": \"LOGIN\""), std::string::npos) << server.record();
}

#endif

}  // namespace
