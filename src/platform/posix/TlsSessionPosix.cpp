// TLS through OpenSSL. The records go through a socket BIO of our own that
// sends with MSG_NOSIGNAL (OpenSSL's own would raise SIGPIPE on a closed
// peer) and never blocks: every wait is a poll bounded by the caller's time-out.
#include <cerrno>
#include <climits>
#include <cstring>
#include <mutex>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include "platform/Platform.h"
#include "platform/TlsSession.h"
#include "platform/posix/TlsAnchors.h"

namespace hanamail {

namespace platform {

namespace {

// What the socket BIO works with.
struct BioState {
    int fd = -1;
    int lastErrno = 0;  // of the last failed send or receive
};

}  // namespace

struct TlsSession::Impl : TlsSessionFacts {
    SSL_CTX* ctx = nullptr;
    SSL* ssl = nullptr;
    BioState io;

    ~Impl()
    {
        if (ssl) SSL_free(ssl);
        if (ctx) SSL_CTX_free(ctx);
    }
};

namespace {

BioState* implOf(BIO* b)
{
    return static_cast<BioState*>(BIO_get_data(b));
}

int bioWrite(BIO* b, const char* data, int len)
{
    BioState* m = implOf(b);
    BIO_clear_retry_flags(b);
    ssize_t rc;
    do {
        rc = ::send(m->fd, data, static_cast<size_t>(len), MSG_NOSIGNAL | MSG_DONTWAIT);
    } while (rc < 0 && errno == EINTR);
    if (rc >= 0) return static_cast<int>(rc);
    m->lastErrno = errno;
    if (errno == EAGAIN || errno == EWOULDBLOCK) BIO_set_retry_write(b);
    return -1;
}

int bioRead(BIO* b, char* data, int len)
{
    BioState* m = implOf(b);
    BIO_clear_retry_flags(b);
    ssize_t rc;
    do {
        rc = ::recv(m->fd, data, static_cast<size_t>(len), MSG_DONTWAIT);
    } while (rc < 0 && errno == EINTR);
    if (rc >= 0) return static_cast<int>(rc);
    m->lastErrno = errno;
    if (errno == EAGAIN || errno == EWOULDBLOCK) BIO_set_retry_read(b);
    return -1;
}

long bioCtrl(BIO*, int cmd, long, void*)
{
    // Writes go straight to the socket: there is never anything to flush.
    return cmd == BIO_CTRL_FLUSH ? 1 : 0;
}

int bioCreate(BIO* b)
{
    BIO_set_init(b, 1);
    return 1;
}

int bioDestroy(BIO*)
{
    return 1;
}

BIO_METHOD* socketMethod()
{
    static BIO_METHOD* method = nullptr;
    static std::once_flag once;
    std::call_once(once, [] {
        BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "hanamail socket");
        if (!m) return;
        BIO_meth_set_write(m, bioWrite);
        BIO_meth_set_read(m, bioRead);
        BIO_meth_set_ctrl(m, bioCtrl);
        BIO_meth_set_create(m, bioCreate);
        BIO_meth_set_destroy(m, bioDestroy);
        method = m;
    });
    return method;
}

// 1 ready, 0 time-out, -1 error; again after a signal with the time left.
int waitUntil(int fd, short events, uint32_t start, uint32_t timeoutMs)
{
    for (;;) {
        const uint32_t spent = tickCount() - start;
        if (spent >= timeoutMs) return 0;
        const uint32_t left = timeoutMs - spent;
        pollfd p{fd, events, 0};
        const int rc = ::poll(&p, 1, static_cast<int>(left > 0x7FFFFFFFu ? 0x7FFFFFFFu : left));
        if (rc < 0 && errno == EINTR) continue;
        if (rc <= 0) return rc < 0 ? -1 : 0;
        if (p.revents & POLLNVAL) return -1;
        return 1;
    }
}

// The first error OpenSSL queued, or fallback.
std::string queuedError(const char* fallback)
{
    const unsigned long e = ERR_get_error();
    ERR_clear_error();
    if (e == 0) return fallback;
    char text[256];
    ERR_error_string_n(e, text, sizeof text);
    return text;
}

std::string nameText(const X509_NAME* name)
{
    if (!name) return std::string();
    BIO* mem = BIO_new(BIO_s_mem());
    if (!mem) return std::string();
    // RFC 2253 order and quoting, with UTF-8 left as it is.
    std::string out;
    if (X509_NAME_print_ex(mem, name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB) >= 0) {
        char* data = nullptr;
        const long n = BIO_get_mem_data(mem, &data);
        if (n > 0 && data) out.assign(data, static_cast<size_t>(n));
    }
    BIO_free(mem);
    return out;
}

bool isAddressLiteral(const char* host)
{
    in_addr a4{};
    in6_addr a6{};
    return inet_pton(AF_INET, host, &a4) == 1 || inet_pton(AF_INET6, host, &a6) == 1;
}

}  // namespace

TlsSession::TlsSession() : m(std::make_unique<Impl>()), m_facts(m.get()) {}
TlsSession::~TlsSession() = default;

bool TlsSession::handshake(SocketHandle s, const char* host, const TlsSettings& settings, uint32_t timeoutMs)
{
    const auto fail = [this](TlsFailure why, std::string text) {
        m->failure = why;
        m->error = std::move(text);
        m->broken = true;
        return false;
    };
    if (m->ssl) return fail(TlsFailure::Handshake, "A TLS session was already started on this connection.");
    if (s == kInvalidSocket) return fail(TlsFailure::Handshake, "No socket for the TLS handshake.");
    const std::string name = host ? host : "";
    BIO_METHOD* method = socketMethod();
    ERR_clear_error();
    m->ctx = SSL_CTX_new(TLS_client_method());
    if (!m->ctx || !method) return fail(TlsFailure::Handshake, queuedError("TLS could not be set up."));
    SSL_CTX_set_min_proto_version(m->ctx, TLS1_2_VERSION);
    // A server that closes without the closing alert ends the stream as a
    // close does; the protocols above tell a complete message themselves.
    SSL_CTX_set_options(m->ctx, SSL_OP_IGNORE_UNEXPECTED_EOF);
    const bool address = isAddressLiteral(name.c_str());
    if (!settings.insecure) {
        SSL_CTX_set_verify(m->ctx, SSL_VERIFY_PEER, nullptr);
        addSystemAnchors(m->ctx);
        if (!settings.caFile.empty() && SSL_CTX_load_verify_locations(m->ctx, settings.caFile.c_str(), nullptr) != 1) {
            ERR_clear_error();
            return fail(TlsFailure::Handshake, "Cannot load the CA file " + settings.caFile);
        }
    } else {
        SSL_CTX_set_verify(m->ctx, SSL_VERIFY_NONE, nullptr);
    }
    m->ssl = SSL_new(m->ctx);
    BIO* bio = m->ssl ? BIO_new(method) : nullptr;
    if (!bio) return fail(TlsFailure::Handshake, queuedError("TLS could not be set up."));
    m->io.fd = static_cast<int>(s);
    BIO_set_data(bio, &m->io);
    SSL_set_bio(m->ssl, bio, bio);
    SSL_set_mode(m->ssl, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    if (!address && !name.empty()) SSL_set_tlsext_host_name(m->ssl, name.c_str());
    if (!settings.insecure && !address) {
        SSL_set_hostflags(m->ssl, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        if (SSL_set1_host(m->ssl, name.c_str()) != 1)
            return fail(TlsFailure::Handshake, queuedError("The host name cannot be checked."));
    }
    const int flags = fcntl(m->io.fd, F_GETFL, 0);
    if (flags < 0 || fcntl(m->io.fd, F_SETFL, flags | O_NONBLOCK) != 0)
        return fail(TlsFailure::Handshake, "The socket cannot be made non-blocking.");

    const uint32_t start = tickCount();
    for (;;) {
        ERR_clear_error();
        m->io.lastErrno = 0;
        const int rc = SSL_connect(m->ssl);
        if (rc == 1) break;
        const int err = SSL_get_error(m->ssl, rc);
        if (err == SSL_ERROR_WANT_READ || err == SSL_ERROR_WANT_WRITE) {
            const int w = waitUntil(m->io.fd, err == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, start, timeoutMs);
            if (w > 0) continue;
            m->socketError = w == 0 ? kSockTimedOut : lastSocketError();
            return fail(TlsFailure::Handshake,
                        w == 0 ? "The TLS handshake timed out." : "Socket error in the TLS handshake.");
        }
        // Without verification OpenSSL still records what it found; it is no reason then.
        const long verify = settings.insecure ? X509_V_OK : SSL_get_verify_result(m->ssl);
        if (verify != X509_V_OK) {
            ERR_clear_error();
            const bool name = verify == X509_V_ERR_HOSTNAME_MISMATCH || verify == X509_V_ERR_IP_ADDRESS_MISMATCH;
            return fail(name ? TlsFailure::NameMismatch : TlsFailure::Untrusted, X509_verify_cert_error_string(verify));
        }
        if (err == SSL_ERROR_ZERO_RETURN || (err == SSL_ERROR_SYSCALL && ERR_peek_error() == 0)) {
            m->socketError = m->io.lastErrno ? (errno = m->io.lastErrno, lastSocketError()) : 0;
            return fail(TlsFailure::Handshake, "The server closed the connection during the TLS handshake.");
        }
        return fail(TlsFailure::Handshake, queuedError("The TLS handshake failed."));
    }

    X509* cert = SSL_get1_peer_certificate(m->ssl);
    if (cert) {
        m->subject = nameText(X509_get_subject_name(cert));
        m->issuer = nameText(X509_get_issuer_name(cert));
    }
    // Addresses are not what SSL_set1_host matches: the certificate's IP
    // entries are checked here, before anything is sent over the session.
    const bool addressOk = settings.insecure || !address || (cert && X509_check_ip_asc(cert, name.c_str(), 0) == 1);
    X509_free(cert);
    if (!addressOk) {
        ERR_clear_error();
        return fail(TlsFailure::NameMismatch, "The certificate is not for the address " + name);
    }
    m->version = SSL_get_version(m->ssl);
    const char* suite = SSL_get_cipher_name(m->ssl);
    m->cipher = suite ? suite : "";
    m->completed();
    return true;
}

int64_t TlsSession::read(void* dest, uint32_t n, uint32_t timeoutMs, bool& timedOut)
{
    timedOut = false;
    if (!established()) {
        m->error = "No TLS session.";
        return -1;
    }
    const uint32_t start = tickCount();
    const int want = n > INT_MAX ? INT_MAX : static_cast<int>(n);
    for (;;) {
        ERR_clear_error();
        m->io.lastErrno = 0;
        const int rc = SSL_read(m->ssl, dest, want);
        if (rc > 0) return rc;
        const int err = SSL_get_error(m->ssl, rc);
        if (err == SSL_ERROR_ZERO_RETURN) return 0;
        if (err == SSL_ERROR_WANT_READ || err == SSL_ERROR_WANT_WRITE) {
            const int w = waitUntil(m->io.fd, err == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, start, timeoutMs);
            if (w > 0) continue;
            if (w == 0) {
                timedOut = true;
                m->socketError = kSockTimedOut;
                m->error = "TLS read timed out.";
                return -1;
            }
        }
        m->broken = true;
        if (err == SSL_ERROR_SYSCALL && m->io.lastErrno == 0 && ERR_peek_error() == 0) return 0;
        errno = m->io.lastErrno;
        m->socketError = m->io.lastErrno ? lastSocketError() : 0;
        m->error = queuedError(m->io.lastErrno ? std::strerror(m->io.lastErrno) : "TLS read failed.");
        return -1;
    }
}

bool TlsSession::hasBuffered() const
{
    return established() && SSL_pending(m->ssl) > 0;
}

int64_t TlsSession::write(const void* bytes, uint32_t n, uint32_t timeoutMs)
{
    if (!established()) {
        m->error = "No TLS session.";
        m->socketError = 10057;  // not connected
        return -1;
    }
    if (n == 0) return 0;
    const uint32_t start = tickCount();
    const int want = n > INT_MAX ? INT_MAX : static_cast<int>(n);
    for (;;) {
        ERR_clear_error();
        m->io.lastErrno = 0;
        const int rc = SSL_write(m->ssl, bytes, want);
        if (rc > 0) return rc;
        const int err = SSL_get_error(m->ssl, rc);
        if (err == SSL_ERROR_WANT_READ || err == SSL_ERROR_WANT_WRITE) {
            const int w = waitUntil(m->io.fd, err == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, start, timeoutMs);
            if (w > 0) continue;
            if (w == 0) {
                m->socketError = kSockTimedOut;
                m->error = "TLS write timed out.";
                return -1;
            }
        }
        m->broken = true;
        errno = m->io.lastErrno ? m->io.lastErrno : ECONNRESET;
        m->socketError = lastSocketError();
        m->error = queuedError(std::strerror(errno));
        return -1;
    }
}

void TlsSession::shutdown(uint32_t timeoutMs)
{
    if (!established()) return;
    const uint32_t start = tickCount();
    for (;;) {
        ERR_clear_error();
        const int rc = SSL_shutdown(m->ssl);
        // 0: our alert went out; the peer's answer is not waited for.
        if (rc >= 0) break;
        const int err = SSL_get_error(m->ssl, rc);
        if (err != SSL_ERROR_WANT_WRITE || waitUntil(m->io.fd, POLLOUT, start, timeoutMs) <= 0) break;
    }
    ERR_clear_error();
    m->established = false;
}

}  // namespace platform

}  // namespace hanamail
