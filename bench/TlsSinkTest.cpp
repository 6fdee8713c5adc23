// The TLS sink of bench_smtp: the end of DATA found wherever the reads cut
// it, and sessions in the clear and over STARTTLS recorded as they went.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>

#include "TlsSink.h"
#include "foundation/LogNull.h"
#include "foundation/StringBuffer.h"
#include "mime/Email2.h"
#include "platform/TlsSession.h"
#include "smtp/SmtpConnImpl.h"
#include "smtp/SmtpTlsMode.h"

using namespace hanamail;

namespace {

// The text as DATA carries it: a dot before every line that begins with one,
// then the end marker.
std::string onTheWire(const std::string& text)
{
    std::string out;
    bool lineStart = true;
    for (size_t i = 0; i < text.size(); ++i) {
        if (lineStart && text[i] == '.') out += '.';
        out += text[i];
        lineStart = text[i] == '\n' && i > 0 && text[i - 1] == '\r';
    }
    return out + ".\r\n";
}

const char* const kTexts[] = {
    "", "a\r\n", ".\r\n", "..x\r\n\r\n.\r\nend\r\n", "x\r\r\n.y\r\n", ".\rx\r\n", "line\n.not at a line start\r\n",
};

TEST(DataScanner, EndFoundAcrossEveryCut)
{
    const std::string next = "QUIT\r\n";
    for (const char* text : kTexts) {
        const std::string wire = onTheWire(text) + next;
        for (size_t cut = 0; cut <= wire.size(); ++cut) {
            DataScanner d;
            size_t used = d.feed(wire.data(), cut);
            if (!d.ended()) used += d.feed(wire.data() + cut, wire.size() - cut);
            ASSERT_TRUE(d.ended()) << text << " cut at " << cut;
            EXPECT_EQ(d.size(), std::strlen(text)) << text << " cut at " << cut;
            EXPECT_EQ(used, wire.size() - next.size()) << text << " cut at " << cut;
        }
    }
}

TEST(DataScanner, ByteByByteAndNotBeforeTheLastByte)
{
    for (const char* text : kTexts) {
        const std::string wire = onTheWire(text);
        DataScanner d;
        for (size_t i = 0; i < wire.size(); ++i) {
            EXPECT_FALSE(d.ended()) << text << " at " << i;
            EXPECT_EQ(d.feed(&wire[i], 1), 1u);
        }
        ASSERT_TRUE(d.ended()) << text;
        EXPECT_EQ(d.size(), std::strlen(text));
        EXPECT_EQ(d.feed("more", 4), 0u);
    }
    // Only a dot alone on its line ends the data.
    DataScanner d;
    const std::string notEnd = "a\r\n.\rb\r\n.x\r\n\r\n.";
    EXPECT_EQ(d.feed(notEnd.data(), notEnd.size()), notEnd.size());
    EXPECT_FALSE(d.ended());
}

// A client in the clear, speaking the lines as given.
class RawClient {
public:
    explicit RawClient(int port)
    {
        m_fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<uint16_t>(port));
        timeval limit{10, 0};
        setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        if (connect(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) close();
    }
    ~RawClient() { close(); }

    void send(const std::string& bytes)
    {
        ASSERT_EQ(::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
    }

    // The next reply's last line; "" when the server closed first.
    std::string reply()
    {
        for (;;) {
            size_t end;
            while ((end = m_in.find("\r\n")) != std::string::npos) {
                std::string line = m_in.substr(0, end);
                m_in.erase(0, end + 2);
                if (line.size() < 4 || line[3] != '-') return line;
                m_lines += line + "\n";
            }
            char buf[4096];
            const ssize_t n = m_fd < 0 ? -1 : recv(m_fd, buf, sizeof buf, 0);
            if (n <= 0) return "";
            m_in.append(buf, static_cast<size_t>(n));
        }
    }
    // The lines before the last of every reply so far.
    const std::string& continued() const { return m_lines; }

private:
    void close()
    {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = -1;
    }
    int m_fd = -1;
    std::string m_in, m_lines;
};

class TlsSinkSession : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string why;
        ASSERT_TRUE(sink.start(why)) << why;
    }
    TlsSink sink;
};

TEST_F(TlsSinkSession, InTheClearWithCommandsAfterTheData)
{
    RawClient c(sink.port());
    EXPECT_EQ(c.reply().substr(0, 4), "220 ");
    c.send("EHLO test\r\n");
    EXPECT_EQ(c.reply(), "250 STARTTLS");
    EXPECT_NE(c.continued().find("250-8BITMIME"), std::string::npos);
    c.send("STARTTLS now\r\nVRFY x\r\n");
    EXPECT_EQ(c.reply().substr(0, 4), "501 ");
    EXPECT_EQ(c.reply().substr(0, 4), "500 ");
    c.send("MAIL FROM:<a@example.com>\r\nRCPT TO:<b@example.com>\r\n");
    EXPECT_EQ(c.reply(), "250 OK");
    EXPECT_EQ(c.reply(), "250 OK");
    c.send("DATA\r\n");
    EXPECT_EQ(c.reply().substr(0, 4), "354 ");
    // The end marker and the next command in one piece.
    c.send(onTheWire("..x\r\nlast\r\n") + "NOOP\r\nQUIT\r\n");
    EXPECT_EQ(c.reply(), "250 OK");
    EXPECT_EQ(c.reply(), "250 OK");
    EXPECT_EQ(c.reply(), "221 Bye");
    const auto got = sink.received();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].bytes, std::strlen("..x\r\nlast\r\n"));
    EXPECT_EQ(got[0].tls, "none");
}

TEST_F(TlsSinkSession, DataCutShortAndCleartextAfterStartTlsAreNotMessages)
{
    {
        RawClient c(sink.port());
        c.reply();
        c.send("EHLO test\r\nDATA\r\n");
        c.reply();
        EXPECT_EQ(c.reply().substr(0, 4), "354 ");
        c.send("half a message\r\n");
    }
    {
        // Bytes after STARTTLS in the clear would be taken as sent over TLS.
        RawClient c(sink.port());
        c.reply();
        c.send("STARTTLS\r\nMAIL FROM:<a@example.com>\r\n");
        EXPECT_EQ(c.reply(), "220 Ready to start TLS");
        EXPECT_EQ(c.reply(), "");
    }
    // One session after another: this greeting comes after both ended.
    RawClient c(sink.port());
    EXPECT_EQ(c.reply().substr(0, 4), "220 ");
    EXPECT_TRUE(sink.received().empty());
}

TEST_F(TlsSinkSession, OursOverStartTlsVerifiesTheSink)
{
    const char* const text = "Subject: hello\r\n\r\n.dot\r\nbody\r\n";
    StringBuffer mime;
    ASSERT_TRUE(mime.append(text));
    std::unique_ptr<Email2> email(Email2::NewEmail());
    ASSERT_TRUE(email && email->SetFrom("a@example.com") && email->AddTo("", "b@example.com"));
    platform::TlsSettings settings;
    settings.caFile = sink.caFile();
    {
        LogNull log;
        SmtpConnImpl conn;
        conn.setTls(SmtpTlsMode::StartTls, settings);
        ASSERT_TRUE(conn.connectAndLogin("127.0.0.1", sink.port(), "", "", "", "", 10, 10000, log));
        EXPECT_TRUE(conn.tlsActive());
        int accepted = 0, attempted = 0;
        bool broken = false;
        EXPECT_TRUE(conn.sendEmail(*email, &mime, log, nullptr, accepted, attempted, broken, true, false));
        EXPECT_EQ(accepted, 1);
    }
    const auto got = sink.received();
    ASSERT_EQ(got.size(), 1u);
    // Our client ends the data with a line end of its own before the dot.
    EXPECT_EQ(got[0].bytes, std::strlen(text) + 2);
    EXPECT_EQ(got[0].tls.rfind("TLSv1.", 0), 0u) << got[0].tls;

    // A CA other than the sink's is refused: the certificate is checked.
    TlsSink other;
    std::string why;
    ASSERT_TRUE(other.start(why)) << why;
    settings.caFile = other.caFile();
    LogNull log;
    SmtpConnImpl conn;
    conn.setTls(SmtpTlsMode::StartTls, settings);
    EXPECT_FALSE(conn.connectAndLogin("127.0.0.1", sink.port(), "", "", "", "", 10, 10000, log));
    EXPECT_TRUE(sink.received().empty());
}

}  // namespace
