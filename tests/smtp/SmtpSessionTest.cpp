#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>

#include "charset/ContentCoding.h"
#include "foundation/BufferLimit.h"
#include "foundation/ExtPtrArray.h"
#include "foundation/Logger.h"
#include "mime/Email2.h"
#include "smtp/MailMan.h"
#include "smtp/SmtpConnImpl.h"
#include "smtp/SmtpPeer.h"

using namespace hanamail;
using smtptest::Record;
using smtptest::Script;

namespace {

std::string textOf(Logger& log)
{
    StringBuffer sb;
    log.getText(sb);
    return sb.getString();
}

// A scripted server for one case, what it received and the client's log.
// rec is complete once join has returned (the client has sent QUIT).
struct Session {
    explicit Session(const Script& script) : server(smtptest::serve(script, rec)) {}

    void join() { server->join(); }
    std::string logText() { return textOf(log); }
    int port() const { return server->port(); }

    Record rec;
    std::unique_ptr<loopback::LoopbackServer> server;
    Logger log;
};

MailMan mailManFor(const Session& s)
{
    MailMan mm;
    mm.smtpHost = "127.0.0.1";
    mm.smtpPort = s.port();
    return mm;
}

std::unique_ptr<Email2> makeEmail(const char* body = "Hello\r\n")
{
    std::unique_ptr<Email2> e(Email2::NewEmail());
    EXPECT_TRUE(e->SetFrom("Sender <sender@example.com>"));
    EXPECT_TRUE(e->AddHeaderField("Subject", "test"));
    EXPECT_TRUE(e->AddTo("To One", "to1@example.com"));
    EXPECT_TRUE(e->AddCc("", "cc1@example.com"));
    EXPECT_TRUE(e->AddBcc("", "bcc1@example.com"));
    e->SetTextBody(body, static_cast<uint32_t>(std::strlen(body)), false);
    return e;
}

std::string base64(const std::string& s)
{
    StringBuffer out;
    ContentCoding coding;
    EXPECT_TRUE(coding.encodeBase64Flat(s.data(), static_cast<uint32_t>(s.size()), out));
    return out.getString();
}

bool connect(SmtpConnImpl& conn, Session& s, const char* user = "user", const char* password = "pw-Secret1",
             int readTimeoutMs = 5000)
{
    return conn.connectAndLogin("127.0.0.1", s.port(), user, password, "", "", 5, readTimeoutMs, s.log);
}

struct Sent {
    bool ok = false;
    int accepted = 0, attempted = 0;
    bool connectionFailed = false;
};

Sent sendOne(SmtpConnImpl& conn, Email2& email, Logger& log, const StringBuffer* text = nullptr)
{
    Sent s;
    s.ok = conn.sendEmail(email, text, log, nullptr, s.accepted, s.attempted, s.connectionFailed, true, true);
    return s;
}

}  // namespace

TEST(SmtpSession, LogsInWithTheFirstOfferedMethodAndKeepsCredentialsOutOfTheTranscript)
{
    Script script;
    script.greeting = "220-first line\r\n220-second\r\n220 ready\r\n";
    script.ehlo = "250-test\r\n250-AUTH=CRAM-MD5\r\n250-AUTH PLAIN LOGIN\r\n250 OK\r\n";
    Session s(script);
    {
        SmtpConnImpl conn;
        ASSERT_TRUE(connect(conn, s)) << s.logText();
        // The '=' form marks nothing: LOGIN beats PLAIN, CRAM-MD5 is not offered.
        EXPECT_EQ(conn.capabilities(), SmtpConnImpl::kLogin | SmtpConnImpl::kPlain);
        const std::string t = conn.transcript().getString();
        EXPECT_NE(t.find("AUTH LOGIN"), std::string::npos);
        EXPECT_EQ(t.find(base64("pw-Secret1")), std::string::npos);
    }
    s.join();
    ASSERT_GE(s.rec.lines.size(), 4u);
    EXPECT_EQ(s.rec.lines[1], "AUTH LOGIN\r\n");
    EXPECT_EQ(s.rec.lines[2], base64("user") + "\r\n");
    EXPECT_EQ(s.rec.lines[3], base64("pw-Secret1") + "\r\n");
    EXPECT_EQ(s.rec.lines.back(), "QUIT\r\n");
    const std::string l = s.logText();
    EXPECT_NE(l.find("login_method: LOGIN"), std::string::npos) << l;
    EXPECT_NE(l.find("CONNECTED to ESMTP server 127.0.0.1:"), std::string::npos) << l;
    EXPECT_EQ(l.find("pw-Secret1"), std::string::npos);
    EXPECT_EQ(l.find(base64("pw-Secret1")), std::string::npos);
}

TEST(SmtpSession, PlainAndCramMd5AndWhatIsNotTried)
{
    // PLAIN carries long credentials in one line (no fixed area).
    {
        Script script;
        script.ehlo = "250-test\r\n250 AUTH PLAIN\r\n";
        Session s(script);
        const std::string user(300, 'u'), pw(300, 'p');
        {
            SmtpConnImpl conn;
            ASSERT_TRUE(connect(conn, s, user.c_str(), pw.c_str())) << s.logText();
        }
        s.join();
        ASSERT_GE(s.rec.lines.size(), 3u);
        EXPECT_EQ(s.rec.lines[2], base64(user + '\0' + user + '\0' + pw) + "\r\n");
    }
    // CRAM-MD5: the RFC 2195 example.
    {
        Script script;
        script.ehlo = "250-test\r\n250 AUTH CRAM-MD5\r\n";
        Session s(script);
        {
            SmtpConnImpl conn;
            ASSERT_TRUE(connect(conn, s, "tim", "tanstaaftanstaaf")) << s.logText();
        }
        s.join();
        ASSERT_GE(s.rec.lines.size(), 3u);
        EXPECT_EQ(s.rec.lines[2], base64("tim b913a602c7eda7a495b4e6e7334d3890") + "\r\n");
    }
    // With a login but no password nothing is tried, and the user is logged as NULL.
    {
        Script script;
        Session s(script);
        {
            SmtpConnImpl conn;
            ASSERT_TRUE(connect(conn, s, "x", "")) << s.logText();
        }
        s.join();
        for (const std::string& line : s.rec.lines) EXPECT_NE(line.compare(0, 4, "AUTH"), 0) << line;
        EXPECT_NE(s.logText().find("smtp_user: NULL"), std::string::npos);
    }
}

TEST(SmtpSession, RefusedLoginFailsTheConnect)
{
    Script script;
    script.replies["AUTH2"] = "535 bad credentials\r\n";
    Session s(script);
    {
        SmtpConnImpl conn;
        EXPECT_FALSE(connect(conn, s));
    }
    s.join();
    const std::string l = s.logText();
    EXPECT_NE(l.find("Failed to get response to login password"), std::string::npos) << l;
    EXPECT_NE(l.find("Failed to login using LOGIN method"), std::string::npos) << l;
    EXPECT_EQ(l.find("pw-Secret1"), std::string::npos);
    EXPECT_EQ(l.find(base64("pw-Secret1")), std::string::npos);
}

TEST(SmtpSession, HeloFallbacks)
{
    Script script;
    script.ehlo = "500 no EHLO here\r\n";
    script.replies["HELO"] = "501 who are you\r\n";
    Session s(script);
    {
        SmtpConnImpl conn;
        EXPECT_FALSE(connect(conn, s));
    }
    s.join();
    ASSERT_GE(s.rec.lines.size(), 3u);
    EXPECT_EQ(s.rec.lines[1].compare(0, 5, "HELO "), 0);
    EXPECT_EQ(s.rec.lines[2], "HELO 127.0.0.1\r\n");  // the second try names the server
    const std::string l = s.logText();
    EXPECT_NE(l.find("Failed to get response to Hello (HELO)"), std::string::npos) << l;
    EXPECT_NE(l.find("Failed to get response to 2nd-try Hello (HELO)"), std::string::npos) << l;
}

TEST(SmtpSession, EnvelopeInListOrderWithoutBccOrSettingsInTheMessage)
{
    Script script;
    Session s(script);
    auto email = makeEmail(".starts with a dot\r\nline\r\n");
    ASSERT_TRUE(email->AddHeaderField("TBX-ReturnReceipt", "YES"));
    Sent sent;
    {
        SmtpConnImpl conn;
        ASSERT_TRUE(connect(conn, s)) << s.logText();
        sent = sendOne(conn, *email, s.log);
    }
    s.join();
    EXPECT_TRUE(sent.ok) << s.logText();
    EXPECT_EQ(sent.accepted, 3);
    EXPECT_EQ(sent.attempted, 3);
    std::vector<std::string> envelope;
    for (const std::string& l : s.rec.lines)
        if (l.compare(0, 4, "MAIL") == 0 || l.compare(0, 4, "RCPT") == 0) envelope.push_back(l);
    const std::vector<std::string> expected = {"MAIL FROM:<sender@example.com>\r\n", "RCPT TO:<to1@example.com>\r\n",
                                               "RCPT TO:<cc1@example.com>\r\n", "RCPT TO:<bcc1@example.com>\r\n"};
    EXPECT_EQ(envelope, expected);
    ASSERT_EQ(s.rec.messages.size(), 1u);
    const std::string& m = s.rec.messages[0];
    EXPECT_EQ(m.find("bcc1@example.com"), std::string::npos);
    EXPECT_EQ(m.find("TBX-"), std::string::npos);
    // The line that starts with a dot: doubled, or escaped by quoted-printable.
    EXPECT_TRUE(m.find("\r\n..starts with a dot") != std::string::npos ||
                m.find("\r\n=2Estarts with a dot") != std::string::npos)
        << m;
    EXPECT_NE(s.logText().find("Mail sent to 3 recipients"), std::string::npos);
}

TEST(SmtpSession, NoLineOfTheTextCanEndTheData)
{
    Script script;
    Session s(script);
    auto email = makeEmail();
    const std::string hostile = ".x first\n.\nRCPT TO:<evil@example.com>\r.\r\nmid\n.\r\nend\r";
    StringBuffer text(hostile.c_str());
    {
        SmtpConnImpl conn;
        ASSERT_TRUE(connect(conn, s));
        EXPECT_TRUE(sendOne(conn, *email, s.log, &text).ok) << s.logText();
    }
    s.join();
    const std::string& w = s.rec.wire;
    // One end marker, and no line end other than CR LF anywhere.
    const size_t data = w.find("DATA\r\n") + 6;
    const std::string body = w.substr(data, w.find("QUIT") - data);
    EXPECT_EQ(body, "..x first\r\n..\r\nRCPT TO:<evil@example.com>\r\n..\r\nmid\r\n..\r\nend\r\n\r\n.\r\n");
    // The size logged is what went out before the end marker.
    EXPECT_NE(s.logText().find("email_size: " + std::to_string(body.size() - 5)), std::string::npos) << s.logText();
    for (size_t i = 0; i < w.size(); ++i) {
        if (w[i] == '\r') {
            EXPECT_EQ(w[i + 1], '\n') << i;
        }
        if (w[i] == '\n') {
            EXPECT_EQ(w[i - 1], '\r') << i;
        }
    }
    int rcpts = 0;
    for (const std::string& l : s.rec.lines) rcpts += l.compare(0, 4, "RCPT") == 0;
    EXPECT_EQ(rcpts, 3);
}

TEST(SmtpSession, RefusedRecipients)
{
    // Two of three accepted: the message goes to the two, the send is a failure.
    {
        Script script;
        script.rcpt = [](int n) { return n == 2 ? std::string("550 no such user\r\n") : std::string(); };
        Session s(script);
        auto email = makeEmail();
        Sent sent;
        std::vector<std::string> refused;
        {
            SmtpConnImpl conn;
            ASSERT_TRUE(connect(conn, s));
            sent = sendOne(conn, *email, s.log);
            refused = conn.refusedAddresses();
        }
        s.join();
        EXPECT_FALSE(sent.ok);
        EXPECT_EQ(sent.accepted, 2);
        EXPECT_EQ(sent.attempted, 3);
        EXPECT_FALSE(sent.connectionFailed);
        EXPECT_EQ(s.rec.messages.size(), 1u);
        EXPECT_EQ(refused, std::vector<std::string>{"cc1@example.com"});
        const std::string l = s.logText();
        EXPECT_NE(l.find("Failed when sending cc RCPT TO:<cc1@example.com>"), std::string::npos) << l;
        EXPECT_NE(l.find("Warning: failed to send to 1 recipient(s), continuing to send to 2 recipient(s)"),
                  std::string::npos)
            << l;
    }
    // 251 (forwarded) is accepted; no recipient at all fails before DATA.
    {
        Script script;
        script.replies["RCPT"] = "251 will forward\r\n";
        Session s(script);
        auto email = makeEmail();
        std::unique_ptr<Email2> nobody(Email2::NewEmail());
        ASSERT_TRUE(nobody->SetFrom("a@example.com"));
        Sent first, second;
        {
            SmtpConnImpl conn;
            ASSERT_TRUE(connect(conn, s));
            first = sendOne(conn, *email, s.log);
            second = sendOne(conn, *nobody, s.log);
        }
        s.join();
        EXPECT_TRUE(first.ok) << s.logText();
        EXPECT_FALSE(second.ok);
        EXPECT_EQ(s.rec.messages.size(), 1u);
    }
}

TEST(SmtpSession, DistributionListRestartsAfterAnEmptyTransaction)
{
    const std::string path = ::testing::TempDir() + "smtp_dist_list.txt";
    {
        std::ofstream f(path, std::ios::binary);
        f << "first@example.com\r\n\r\nnot an address\r\nsecond@example.com\nbad\rcr@example.com\nthird@example.com\n";
    }
    Script script;
    script.rcpt = [](int n) { return n == 1 ? std::string("550 refused\r\n") : std::string(); };
    Session s(script);
    auto email = makeEmail();
    ASSERT_TRUE(email->AddHeaderField("TBX-FileDistList", path.c_str()));
    Sent sent;
    {
        SmtpConnImpl conn;
        ASSERT_TRUE(connect(conn, s));
        sent = sendOne(conn, *email, s.log);
    }
    s.join();
    std::remove(path.c_str());
    EXPECT_FALSE(sent.ok);
    EXPECT_EQ(sent.accepted, 2);
    EXPECT_EQ(sent.attempted, 4);
    EXPECT_EQ(s.rec.messages.size(), 2u);
    std::vector<std::string> commands;
    for (const std::string& l : s.rec.lines)
        if (l.compare(0, 4, "MAIL") == 0 || l.compare(0, 4, "RCPT") == 0 || l.compare(0, 4, "RSET") == 0)
            commands.push_back(l.substr(0, 4) + (l.compare(0, 4, "RCPT") == 0 ? l.substr(8) : ""));
    const std::vector<std::string> expected = {
        "MAIL", "RCPT<first@example.com>\r\n", "RSET", "MAIL", "RCPT<second@example.com>\r\n",
        "MAIL", "RCPT<third@example.com>\r\n"};
    EXPECT_EQ(commands, expected);
    // The line with a bare CR became no command.
    for (const std::string& l : s.rec.lines) EXPECT_EQ(l.find("cr@example.com"), std::string::npos) << l;
    for (const std::string& m : s.rec.messages) EXPECT_EQ(m.find("to1@example.com"), std::string::npos);
}

TEST(SmtpSession, HostileAddressesAndLongCommandsAreNeverSent)
{
    Script script;
    Session s(script);
    SmtpConnImpl conn;
    ASSERT_TRUE(connect(conn, s));
    EXPECT_FALSE(conn.sendCommand("RCPT TO:<%s>\r\n", std::string(2100, 'a').c_str(), 250, s.log));
    EXPECT_NE(s.logText().find("SMTP command too long"), std::string::npos);
    for (const std::string& l : s.rec.lines) EXPECT_LT(l.size(), 2000u);
}

TEST(SmtpSession, ReplyFaults)
{
    struct Case {
        const char* name;
        std::string greeting;
        bool ok;
        const char* line;
    };
    const Case cases[] = {
        {"bare LF lines", "220-a\n220 b\n", true, nullptr},
        {"short line", "22\r\n", false, "22"},
        {"wrong code", "554 go away\r\n", false, "Failed to get initial response"},
        {"endless continuation", std::string(), false, "SMTP reply too long"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string greeting = c.greeting;
        if (greeting.empty())
            for (int i = 0; i < 2000; ++i) greeting += "220-more\r\n";
        Script script;
        script.greeting = greeting;
        Session s(script);
        loopback::Stopwatch watch;
        {
            SmtpConnImpl conn;
            EXPECT_EQ(connect(conn, s), c.ok) << s.logText();
        }
        EXPECT_LT(watch.ms(), 4000);
        if (c.line) {
            EXPECT_NE(s.logText().find(c.line), std::string::npos) << s.logText();
        }
        s.join();
    }
}

TEST(SmtpSession, SilentServerFailsAtTheReadTimeOut)
{
    Script script;
    script.silentAt = "MAIL";
    Session s(script);
    auto email = makeEmail();
    loopback::Stopwatch watch;
    Sent sent;
    {
        SmtpConnImpl conn;
        ASSERT_TRUE(connect(conn, s, "user", "pw", 1000));
        sent = sendOne(conn, *email, s.log);
    }
    EXPECT_FALSE(sent.ok);
    EXPECT_TRUE(sent.connectionFailed);
    EXPECT_LT(watch.ms(), 4000);
    const std::string l = s.logText();
    EXPECT_NE(l.find("Socket read timeout"), std::string::npos) << l;
    EXPECT_NE(l.find("Failed when sending MAIL FROM:<sender@example.com>"), std::string::npos) << l;
    s.server.reset();
}

TEST(MailManSend, OutcomesAndTheirLines)
{
    // Nobody listening.
    {
        MailMan mm;
        mm.smtpHost = "127.0.0.1";
        mm.smtpPort = 1;  // privileged and unused: refused at once
        Logger log;
        auto email = makeEmail();
        EXPECT_FALSE(mm.SendEmail(email.get(), ExtPtrArray(), nullptr, log));
        EXPECT_NE(textOf(log).find("Failed to connect to SMTP server."), std::string::npos) << textOf(log);
    }
    // Partial: some recipients have it.
    {
        Script script;
        script.rcpt = [](int n) { return n == 1 ? std::string("550 no\r\n") : std::string(); };
        Session s(script);
        MailMan mm = mailManFor(s);
        auto email = makeEmail();
        ASSERT_TRUE(email->AddHeaderField("TBX-ReturnReceipt", "YES"));
        EXPECT_FALSE(mm.SendEmail(email.get(), ExtPtrArray(), nullptr, s.log));
        s.join();
        const std::string l = s.logText();
        EXPECT_NE(l.find("Partial send failure."), std::string::npos) << l;
        EXPECT_EQ(mm.refused(), std::vector<std::string>{"to1@example.com"});
        ASSERT_EQ(s.rec.messages.size(), 1u);
        EXPECT_NE(s.rec.messages[0].find("Disposition-Notification-To: <sender@example.com>"), std::string::npos);
        // The caller's email is not changed by the send.
        StringBuffer v;
        EXPECT_FALSE(email->GetHeaderField("Disposition-Notification-To", v));
    }
    // The text sent is the one the email writes, under a new Message-ID,
    // and the email keeps its own.
    {
        Script script;
        Session s(script);
        MailMan mm = mailManFor(s);
        auto email = makeEmail("\xE6\x9C\xAC\xE6\x96\x87\r\n.dot\r\n");
        StringBuffer type;
        ASSERT_TRUE(email->AddDataAttachment("a.bin", nullptr, "\x01\x02\x03", 3, type));
        StringBuffer written, id;
        ASSERT_TRUE(email->WriteMimeText(written, "TBX-"));
        ASSERT_TRUE(email->GetHeaderField("Message-ID", id));
        EXPECT_TRUE(mm.SendEmail(email.get(), ExtPtrArray(), nullptr, s.log)) << s.logText();
        s.join();
        ASSERT_EQ(s.rec.messages.size(), 1u);
        // Message-ID lines aside (a new one goes out), the texts are the same.
        const auto withoutId = [](std::string t, std::string& id) {
            const size_t at = t.find("\r\nMessage-ID: ");
            if (at == std::string::npos) return t;
            const size_t end = t.find("\r\n", at + 2);
            id = t.substr(at + 2, end - at - 2);
            return t.erase(at, end - at);
        };
        std::string sentId, writtenId;
        const std::string sent = withoutId(s.rec.messages[0], sentId);
        EXPECT_EQ(sent, withoutId(written.getString(), writtenId) + "\r\n");
        EXPECT_EQ(sentId.compare(0, 25, "Message-ID: <TEMBRIX-MID-"), 0) << sentId;
        EXPECT_EQ(writtenId, std::string("Message-ID: ") + id.getString());
        EXPECT_NE(sentId, writtenId);
        StringBuffer still;
        ASSERT_TRUE(email->GetHeaderField("Message-ID", still));
        EXPECT_TRUE(still.equals(id.getString()));
        EXPECT_EQ(email->GetRecipientCount(Email2::Recipients::Bcc), 1);
    }
    // An email whose body lost bytes is refused before any transaction.
    {
        Script script;
        Session s(script);
        MailMan mm = mailManFor(s);
        auto email = makeEmail();
        const std::string big(4096, 'x');
        BufferLimit::setCapForTesting(1024);
        email->SetTextBody(big.data(), static_cast<uint32_t>(big.size()), false);
        BufferLimit::setCapForTesting(0);
        EXPECT_FALSE(mm.SendEmail(email.get(), ExtPtrArray(), nullptr, s.log));
        s.join();
        EXPECT_NE(s.logText().find("Failed to prepare email for sending."), std::string::npos) << s.logText();
        for (const std::string& l : s.rec.lines) EXPECT_NE(l.compare(0, 4, "MAIL"), 0) << l;
        EXPECT_TRUE(s.rec.lines.empty() || s.rec.lines.back() == "QUIT\r\n");
    }
    // A body that fits but whose text does not: refused before MAIL FROM,
    // not left in DATA for QUIT to wait out the read time-out.
    {
        Script script;
        Session s(script);
        MailMan mm = mailManFor(s);
        auto email = makeEmail();
        const std::string bytes(600 * 1000, '\x01');
        StringBuffer type;
        ASSERT_TRUE(
            email->AddDataAttachment("big.bin", nullptr, bytes.data(), static_cast<uint32_t>(bytes.size()), type));
        BufferLimit::setCapForTesting(700 * 1000);
        const bool sent = mm.SendEmail(email.get(), ExtPtrArray(), nullptr, s.log);
        BufferLimit::setCapForTesting(0);
        s.join();
        EXPECT_FALSE(sent);
        const std::string l = s.logText();
        EXPECT_NE(l.find("Email too large"), std::string::npos) << l;
        EXPECT_NE(l.find("Failed when sending email body"), std::string::npos) << l;
        EXPECT_EQ(l.find("Socket read timeout"), std::string::npos) << l;
        ASSERT_FALSE(s.rec.lines.empty());
        for (const std::string& line : s.rec.lines) EXPECT_NE(line.compare(0, 4, "MAIL"), 0) << line;
        EXPECT_EQ(s.rec.lines.back(), "QUIT\r\n");
    }
    // Nobody accepted.
    {
        Script script;
        script.replies["RCPT"] = "550 no\r\n";
        Session s(script);
        MailMan mm = mailManFor(s);
        auto email = makeEmail();
        EXPECT_FALSE(mm.SendEmail(email.get(), ExtPtrArray(), nullptr, s.log));
        s.join();
        EXPECT_NE(s.logText().find("Send failed."), std::string::npos);
        EXPECT_EQ(s.rec.messages.size(), 0u);
    }
}

// ---- STARTTLS: what happens before any TLS byte is sent

namespace {

bool connectWithTls(SmtpConnImpl& conn, Session& s, SmtpTlsMode mode)
{
    conn.setTls(mode, platform::TlsSettings{});
    return connect(conn, s);
}

bool received(Record& rec, const std::string& prefix)
{
    for (const std::string& line : rec.lines)
        if (line.compare(0, prefix.size(), prefix) == 0) return true;
    return false;
}

}  // namespace

TEST(SmtpSessionTls, ModesAgainstAServerWithoutStartTls)
{
    struct Case {
        const char* name;
        std::string ehlo;
        SmtpTlsMode mode;
        bool ok;
    };
    const std::string noOffer = "250-test\r\n250-AUTH LOGIN PLAIN\r\n250 8BITMIME\r\n";
    // Only the keyword itself is an offer.
    const std::string lookalikes = "250-test\r\n250-XSTARTTLS\r\n250-STARTTLSX\r\n250 AUTH LOGIN\r\n";
    const Case cases[] = {
        {"required", noOffer, SmtpTlsMode::StartTls, false},
        {"required, look-alike keywords", lookalikes, SmtpTlsMode::StartTls, false},
        {"required, EHLO refused", "502 no EHLO here\r\n", SmtpTlsMode::StartTls, false},
        {"auto falls back to the clear", noOffer, SmtpTlsMode::Auto, true},
        {"auto after HELO", "502 no EHLO here\r\n", SmtpTlsMode::Auto, true},
        {"none", noOffer, SmtpTlsMode::None, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Script script;
        script.ehlo = c.ehlo;
        Session s(script);
        {
            SmtpConnImpl conn;
            EXPECT_EQ(connectWithTls(conn, s, c.mode), c.ok) << s.logText();
            EXPECT_FALSE(conn.tlsActive());
        }
        s.join();
        const bool refused = s.logText().find("STARTTLS required but not offered by the server.") != std::string::npos;
        EXPECT_EQ(refused, !c.ok) << s.logText();
        EXPECT_FALSE(received(s.rec, "STARTTLS"));
        // No credentials went out where TLS was required.
        if (!c.ok) {
            EXPECT_FALSE(received(s.rec, "AUTH"));
        }
    }
}

TEST(SmtpSessionTls, StartTlsRepliesThatEndTheSessionInTheClear)
{
    struct Case {
        const char* name;
        std::string reply;
        const char* line;
    };
    const Case cases[] = {
        // A reply glued to the 220 would be read as if it came over TLS.
        {"injected reply", "220 go ahead\r\n250 injected\r\n", "The server sent data after its reply to STARTTLS."},
        {"refused", "454 TLS not available now\r\n", "454 TLS not available now"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Script script;
        script.ehlo = "250-test\r\n250-AUTH LOGIN PLAIN\r\n250 STARTTLS\r\n";
        script.replies["STAR"] = c.reply;
        Session s(script);
        loopback::Stopwatch watch;
        {
            SmtpConnImpl conn;
            EXPECT_FALSE(connectWithTls(conn, s, SmtpTlsMode::Auto));
        }
        EXPECT_LT(watch.ms(), 4000);
        s.join();
        const std::string l = s.logText();
        EXPECT_NE(l.find("Starting TLS."), std::string::npos) << l;
        EXPECT_NE(l.find(c.line), std::string::npos) << l;
        EXPECT_NE(l.find("TLS handshake failed."), std::string::npos) << l;
        EXPECT_TRUE(received(s.rec, "STARTTLS\r\n"));
        EXPECT_FALSE(received(s.rec, "AUTH"));
        // No handshake was begun: nothing but commands went over the wire.
        EXPECT_EQ(s.rec.wire.find('\x16'), std::string::npos);
    }
}

TEST(SmtpSessionTls, ImplicitTlsPortAndAPlainServer)
{
    {
        SCOPED_TRACE("no port set: 465");
        MailMan mm;
        mm.smtpHost = "127.0.0.1";
        mm.tlsMode = SmtpTlsMode::Implicit;
        mm.connectTimeoutSecs = 2;
        Logger log;
        auto email = makeEmail();
        EXPECT_FALSE(mm.SendEmail(email.get(), ExtPtrArray(), nullptr, log));
        EXPECT_NE(textOf(log).find("Connecting to SMTP server 127.0.0.1:465"), std::string::npos) << textOf(log);
    }
    {
        SCOPED_TRACE("a server in the clear: its greeting is no ServerHello");
        Script script;
        Session s(script);
        MailMan mm = mailManFor(s);
        mm.smtpPortSet = true;
        mm.tlsMode = SmtpTlsMode::Implicit;
        mm.readTimeoutSecs = 3;
        auto email = makeEmail();
        loopback::Stopwatch watch;
        EXPECT_FALSE(mm.SendEmail(email.get(), ExtPtrArray(), nullptr, s.log));
        EXPECT_LT(watch.ms(), 4500);
        const std::string l = s.logText();
        EXPECT_NE(l.find("Starting TLS."), std::string::npos) << l;
        EXPECT_NE(l.find("TLS handshake failed."), std::string::npos) << l;
        EXPECT_NE(l.find("tls_error"), std::string::npos) << l;
        EXPECT_TRUE(s.rec.messages.empty());
        s.server.reset();
    }
}
