#include "TlsSink.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

size_t DataScanner::feed(const char* p, size_t n)
{
    size_t i = 0;
    while (i < n && m_state != kEnded) {
        switch (m_state) {
            case kInLine: {
                // Most bytes are here: straight on to the next CR.
                const void* cr = std::memchr(p + i, '\r', n - i);
                i = cr ? static_cast<size_t>(static_cast<const char*>(cr) - p) + 1 : n;
                if (cr) m_state = kAfterCr;
                break;
            }
            case kAfterCr:
                m_state = p[i] == '\n' ? kLineStart : p[i] == '\r' ? kAfterCr : kInLine;
                ++i;
                break;
            case kLineStart:
                if (p[i] == '.') {
                    m_state = kDot;
                    ++i;
                } else {
                    m_state = kInLine;
                }
                break;
            case kDot:
                if (p[i] == '\r') {
                    m_state = kDotCr;
                    ++i;
                } else {
                    // A dot that begins a longer line is the client's stuffing.
                    ++m_stuffed;
                    m_state = kInLine;
                }
                break;
            case kDotCr:
                if (p[i] == '\n') {
                    ++i;
                    // Without the "." CR LF; the CR LF before it is the message's last line end.
                    m_size = m_total + i - 3 - m_stuffed;
                    m_state = kEnded;
                } else {
                    ++m_stuffed;
                    m_state = kAfterCr;
                }
                break;
            case kEnded: break;
        }
    }
    m_total += i;
    return i;
}

namespace {

struct Free {
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
    void operator()(X509* x) const { X509_free(x); }
    void operator()(SSL_CTX* c) const { SSL_CTX_free(c); }
    void operator()(SSL* s) const { SSL_free(s); }
};
using Key = std::unique_ptr<EVP_PKEY, Free>;
using Cert = std::unique_ptr<X509, Free>;

Key newKey()
{
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_id(EVP_PKEY_EC, nullptr);
    EVP_PKEY* key = nullptr;
    if (ctx && EVP_PKEY_keygen_init(ctx) == 1 && EVP_PKEY_CTX_set_ec_paramgen_curve_nid(ctx, NID_X9_62_prime256v1) == 1)
        EVP_PKEY_keygen(ctx, &key);
    EVP_PKEY_CTX_free(ctx);
    return Key(key);
}

// A certificate for key, signed by issuerKey as issuer (itself when null),
// valid from an hour ago for a day.
Cert newCert(const char* commonName, EVP_PKEY* key, X509* issuer, EVP_PKEY* issuerKey, long serial,
             const std::vector<std::pair<int, const char*>>& extensions)
{
    Cert x(X509_new());
    if (!x || X509_set_version(x.get(), 2) != 1 || ASN1_INTEGER_set(X509_get_serialNumber(x.get()), serial) != 1 ||
        !X509_gmtime_adj(X509_getm_notBefore(x.get()), -3600) || !X509_gmtime_adj(X509_getm_notAfter(x.get()), 86400) ||
        X509_set_pubkey(x.get(), key) != 1)
        return nullptr;
    X509_NAME* name = X509_get_subject_name(x.get());
    if (X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(commonName), -1, -1,
                                   0) != 1 ||
        X509_set_issuer_name(x.get(), issuer ? X509_get_subject_name(issuer) : name) != 1)
        return nullptr;
    X509V3_CTX v3;
    X509V3_set_ctx_nodb(&v3);
    X509V3_set_ctx(&v3, issuer ? issuer : x.get(), x.get(), nullptr, nullptr, 0);
    for (const auto& [nid, value] : extensions) {
        X509_EXTENSION* e = X509V3_EXT_nconf_nid(nullptr, &v3, nid, value);
        const bool added = e && X509_add_ext(x.get(), e, -1) == 1;
        X509_EXTENSION_free(e);
        if (!added) return nullptr;
    }
    if (X509_sign(x.get(), issuerKey, EVP_sha256()) <= 0) return nullptr;
    return x;
}

// The server's context, and the CA's certificate as PEM into caFile.
SSL_CTX* newServerContext(const std::string& caFile)
{
    Key caKey = newKey(), serverKey = newKey();
    if (!caKey || !serverKey) return nullptr;
    Cert ca = newCert("Bench SMTP CA", caKey.get(), nullptr, caKey.get(), 1,
                      {{NID_basic_constraints, "critical,CA:TRUE"},
                       {NID_key_usage, "critical,keyCertSign,cRLSign"},
                       {NID_subject_key_identifier, "hash"}});
    if (!ca) return nullptr;
    Cert server = newCert("localhost", serverKey.get(), ca.get(), caKey.get(), 2,
                          {{NID_basic_constraints, "critical,CA:FALSE"},
                           {NID_key_usage, "critical,digitalSignature"},
                           {NID_ext_key_usage, "serverAuth"},
                           {NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost"},
                           {NID_subject_key_identifier, "hash"},
                           {NID_authority_key_identifier, "keyid:always"}});
    if (!server) return nullptr;
    FILE* f = std::fopen(caFile.c_str(), "w");
    if (!f) return nullptr;
    const bool written = PEM_write_X509(f, ca.get()) == 1;
    if (std::fclose(f) != 0 || !written) return nullptr;

    std::unique_ptr<SSL_CTX, Free> ctx(SSL_CTX_new(TLS_server_method()));
    if (!ctx || SSL_CTX_set_min_proto_version(ctx.get(), TLS1_2_VERSION) != 1 ||
        SSL_CTX_use_certificate(ctx.get(), server.get()) != 1 ||
        SSL_CTX_use_PrivateKey(ctx.get(), serverKey.get()) != 1 || SSL_CTX_check_private_key(ctx.get()) != 1)
        return nullptr;
    // Fewer receive calls: each takes what the socket holds, not one record.
    SSL_CTX_set_read_ahead(ctx.get(), 1);
    SSL_CTX_set_default_read_buffer_len(ctx.get(), 256 * 1024);
    return ctx.release();
}

// One client's connection: the socket, and its TLS session after STARTTLS.
class Session {
public:
    Session(int fd, SSL_CTX* ctx) : m_fd(fd), m_ctx(ctx) {}

    // Up to n bytes; 0 when the client closed or the session failed.
    size_t read(char* p, size_t n)
    {
        if (m_ssl) {
            size_t got = 0;
            return SSL_read_ex(m_ssl.get(), p, n, &got) == 1 ? got : 0;
        }
        ssize_t r;
        do {
            r = ::recv(m_fd, p, n, 0);
        } while (r < 0 && errno == EINTR);
        return r > 0 ? static_cast<size_t>(r) : 0;
    }

    bool write(const char* text)
    {
        const size_t n = std::strlen(text);
        if (m_ssl) {
            size_t put = 0;
            return SSL_write_ex(m_ssl.get(), text, n, &put) == 1 && put == n;
        }
        return ::send(m_fd, text, n, MSG_NOSIGNAL) == static_cast<ssize_t>(n);
    }

    bool startTls()
    {
        m_ssl.reset(SSL_new(m_ctx));
        return m_ssl && SSL_set_fd(m_ssl.get(), m_fd) == 1 && SSL_accept(m_ssl.get()) == 1;
    }

    void close()
    {
        if (m_ssl) SSL_shutdown(m_ssl.get());
    }

    // What protects the session, for the record of each message.
    std::string tls() const
    {
        if (!m_ssl) return "none";
        return std::string(SSL_get_version(m_ssl.get())) + " " + SSL_get_cipher_name(m_ssl.get());
    }

private:
    int m_fd;
    SSL_CTX* m_ctx;
    std::unique_ptr<SSL, Free> m_ssl;
};

bool startsWith(const std::string& line, const char* verb)
{
    const size_t n = std::strlen(verb);
    return line.size() >= n && strncasecmp(line.c_str(), verb, n) == 0 && (line.size() == n || line[n] == ' ');
}

// One SMTP session; a line to log for each message received whole.
void serve(int fd, SSL_CTX* ctx, int log)
{
    // A client that stops talking must not hold the server for ever.
    timeval limit{30, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    // After the handshake the session tickets and the EHLO reply are small
    // writes in a row: held back until the client's delayed ACK, the later
    // ones would stall a client some 40 ms at random.
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    Session s(fd, ctx);
    std::vector<char> buffer(256 * 1024);
    std::string in;
    bool tls = false;
    if (!s.write("220 127.0.0.1 ESMTP bench sink\r\n")) return;
    for (;;) {
        size_t end;
        while ((end = in.find("\r\n")) == std::string::npos) {
            if (in.size() > 4096) return;
            const size_t n = s.read(buffer.data(), buffer.size());
            if (n == 0) return;
            in.append(buffer.data(), n);
        }
        const std::string line = in.substr(0, end);
        in.erase(0, end + 2);
        bool ok = true;
        if (startsWith(line, "EHLO")) {
            ok = s.write(tls ? "250-127.0.0.1\r\n250-8BITMIME\r\n250 SIZE 0\r\n"
                             : "250-127.0.0.1\r\n250-8BITMIME\r\n250-SIZE 0\r\n250 STARTTLS\r\n");
        } else if (startsWith(line, "HELO") || startsWith(line, "MAIL") || startsWith(line, "RCPT") ||
                   startsWith(line, "RSET") || startsWith(line, "NOOP")) {
            ok = s.write("250 OK\r\n");
        } else if (startsWith(line, "STARTTLS")) {
            if (line.size() > 8) {
                ok = s.write("501 No parameters allowed\r\n");
            } else if (tls) {
                ok = s.write("503 TLS already active\r\n");
            } else {
                // Bytes sent before the handshake must not count as sent over TLS.
                if (!s.write("220 Ready to start TLS\r\n") || !in.empty() || !s.startTls()) return;
                tls = true;
            }
        } else if (startsWith(line, "DATA")) {
            if (!s.write("354 End data with <CR><LF>.<CR><LF>\r\n")) return;
            DataScanner data;
            size_t used = data.feed(in.data(), in.size());
            in.erase(0, used);
            while (!data.ended()) {
                const size_t n = s.read(buffer.data(), buffer.size());
                if (n == 0) return;  // cut short: not a message
                used = data.feed(buffer.data(), n);
                in.append(buffer.data() + used, n - used);
            }
            char record[160];
            const int k = std::snprintf(record, sizeof record, "%llu %s\n",
                                        static_cast<unsigned long long>(data.size()), s.tls().c_str());
            // Recorded before the reply: the client's end comes after the record.
            if (k <= 0 || k >= static_cast<int>(sizeof record) || ::write(log, record, static_cast<size_t>(k)) != k)
                return;
            ok = s.write("250 OK\r\n");
        } else if (startsWith(line, "QUIT")) {
            s.write("221 Bye\r\n");
            s.close();
            return;
        } else {
            ok = s.write("500 Command not recognised\r\n");
        }
        if (!ok) return;
    }
}

}  // namespace

bool TlsSink::start(std::string& error)
{
    char dir[] = "/tmp/bench_smtp_tls_XXXXXX";
    if (!mkdtemp(dir)) {
        error = std::string("no temporary directory: ") + std::strerror(errno);
        return false;
    }
    m_dir = dir;
    m_caFile = m_dir + "/ca.pem";
    std::unique_ptr<SSL_CTX, Free> ctx(newServerContext(m_caFile));
    if (!ctx) {
        char text[256];
        ERR_error_string_n(ERR_get_error(), text, sizeof text);
        error = std::string("no certificate: ") + text;
        return false;
    }
    // The messages' lines go to a file, not a pipe: a pipe left unread while a
    // client runs would fill and hold the server up.
    char logName[] = "/tmp/bench_smtp_tls_log_XXXXXX";
    m_log = mkstemp(logName);
    if (m_log < 0) {
        error = std::string("no log file: ") + std::strerror(errno);
        return false;
    }
    unlink(logName);
    // Listening before the fork: the port is ours at once, and clients queue
    // until the server takes them.
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (s < 0 || bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(s, 16) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        error = std::string("cannot listen on 127.0.0.1: ") + std::strerror(errno);
        if (s >= 0) close(s);
        return false;
    }
    m_port = ntohs(a.sin_port);
    std::fflush(nullptr);
    m_pid = fork();
    if (m_pid < 0) {
        error = std::string("cannot fork: ") + std::strerror(errno);
        close(s);
        return false;
    }
    if (m_pid == 0) {
#ifdef __linux__
        prctl(PR_SET_PDEATHSIG, SIGTERM);
#endif
        signal(SIGPIPE, SIG_IGN);
        for (;;) {
            const int c = accept(s, nullptr, nullptr);
            if (c < 0) {
                if (errno == EINTR || errno == ECONNABORTED) continue;
                _exit(1);
            }
            serve(c, ctx.get(), m_log);
            close(c);
        }
    }
    close(s);
    return true;
}

std::vector<TlsSink::Message> TlsSink::received()
{
    char buf[4096];
    ssize_t n;
    while (m_log >= 0 && (n = pread(m_log, buf, sizeof buf, m_read)) > 0) {
        m_pending.append(buf, static_cast<size_t>(n));
        m_read += n;
    }
    std::vector<Message> out;
    size_t end;
    while ((end = m_pending.find('\n')) != std::string::npos) {
        const char* line = m_pending.c_str();
        char* rest = nullptr;
        Message m;
        m.bytes = std::strtoull(line, &rest, 10);
        if (*rest == ' ') ++rest;
        m.tls.assign(static_cast<const char*>(rest), line + end);
        out.push_back(std::move(m));
        m_pending.erase(0, end + 1);
    }
    return out;
}

void TlsSink::stop()
{
    if (m_pid > 0) {
        kill(m_pid, SIGTERM);
        waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }
    if (m_log >= 0) close(m_log);
    m_log = -1;
    if (!m_caFile.empty()) unlink(m_caFile.c_str());
    if (!m_dir.empty()) rmdir(m_dir.c_str());
    m_caFile.clear();
    m_dir.clear();
}
