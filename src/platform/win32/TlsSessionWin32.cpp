// TLS through Schannel (SSPI's unified provider). The socket is made
// non-blocking and every wait is bounded by the call's time-out; records are
// sealed and opened with EncryptMessage and DecryptMessage over bytes we send
// and receive ourselves. Without a CA file the provider checks the chain
// against the system's store and the name itself; with one, the chain is
// built here with the file's certificates as extra anchors.
#include <windows.h>
// (after windows.h, which they need)
#include <winsock2.h>
#include <ws2tcpip.h>
#define SECURITY_WIN32
#include <schannel.h>
#include <security.h>
#include <sspi.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/TlsSession.h"

namespace hanamail {

namespace platform {

namespace {

constexpr size_t kMaxHandshakeBuffer = 1 << 17;
// The SSL policy's "unknown CA" check (wininet.h, not otherwise needed here).
constexpr DWORD kIgnoreUnknownCa = 0x00000100;

std::wstring wide(const std::string& utf8)
{
    if (utf8.empty()) return std::wstring();
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &out[0], n);
    return out;
}

std::string narrow(const std::wstring& w)
{
    const int m = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(m > 0 ? m : 0), '\0');
    if (m > 0) WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), &out[0], m, nullptr, nullptr);
    return out;
}

std::string statusText(long status)
{
    char text[300] = {0};
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                   static_cast<DWORD>(status), 0, text, sizeof text, nullptr);
    std::string s(text, n);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
    char code[48];
    std::snprintf(code, sizeof code, "Schannel status 0x%08lx", static_cast<unsigned long>(status));
    return s.empty() ? std::string(code) : s + " (" + code + ")";
}

TlsFailure classify(long status)
{
    switch (status) {
        case SEC_E_WRONG_PRINCIPAL:
        case CERT_E_CN_NO_MATCH: return TlsFailure::NameMismatch;
        case SEC_E_UNTRUSTED_ROOT:
        case SEC_E_CERT_EXPIRED:
        case SEC_E_CERT_UNKNOWN:
        case CERT_E_UNTRUSTEDROOT:
        case CERT_E_EXPIRED:
        case CERT_E_CHAINING:
        case CERT_E_UNTRUSTEDCA:
        case CERT_E_WRONG_USAGE:
        case TRUST_E_CERT_SIGNATURE:
        case CRYPT_E_REVOKED: return TlsFailure::Untrusted;
        default: return TlsFailure::Handshake;
    }
}

std::string certName(PCCERT_CONTEXT cert, bool issuer)
{
    if (!cert) return std::string();
    CERT_NAME_BLOB* blob = issuer ? &cert->pCertInfo->Issuer : &cert->pCertInfo->Subject;
    const DWORD type = CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG;
    const DWORD n = CertNameToStrW(X509_ASN_ENCODING, blob, type, nullptr, 0);
    if (n <= 1) return std::string();
    std::wstring w(n, L'\0');
    CertNameToStrW(X509_ASN_ENCODING, blob, type, &w[0], n);
    w.resize(n - 1);
    const int m = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(m > 0 ? m : 0), '\0');
    if (m > 0) WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), &out[0], m, nullptr, nullptr);
    return out;
}

bool readFile(const std::string& path, std::string& out)
{
    FILE* f = _wfopen(wide(path).c_str(), L"rb");
    if (!f) return false;
    char piece[4096];
    size_t n;
    while ((n = std::fread(piece, 1, sizeof piece, f)) > 0) {
        out.append(piece, n);
        if (out.size() > (16u << 20)) break;
    }
    std::fclose(f);
    return true;
}

// The PEM certificates of the text into the store; the count added.
int addPemCertificates(const std::string& text, HCERTSTORE store)
{
    static const char kBegin[] = "-----BEGIN CERTIFICATE-----";
    static const char kEnd[] = "-----END CERTIFICATE-----";
    int added = 0;
    size_t at = 0;
    while ((at = text.find(kBegin, at)) != std::string::npos) {
        const size_t end = text.find(kEnd, at);
        if (end == std::string::npos) break;
        const std::string block = text.substr(at, end + sizeof kEnd - 1 - at);
        at = end;
        DWORD size = 0;
        if (!CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64HEADER, nullptr,
                                  &size, nullptr, nullptr))
            continue;
        std::vector<BYTE> der(size);
        if (!CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64HEADER,
                                  der.data(), &size, nullptr, nullptr))
            continue;
        if (CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), size, CERT_STORE_ADD_ALWAYS,
                                             nullptr))
            ++added;
    }
    return added;
}

}  // namespace

struct TlsSession::Impl : TlsSessionFacts {
    SOCKET s = INVALID_SOCKET;
    CredHandle cred{};
    CtxtHandle ctx{};
    bool haveCred = false, haveCtx = false;
    HCERTSTORE anchors = nullptr;  // the CA file's certificates
    SecPkgContext_StreamSizes sizes{};
    std::wstring target;
    std::vector<char> in;  // received, not yet opened
    size_t inLen = 0;
    std::vector<char> plain;  // opened, not yet returned
    size_t plainPos = 0;

    ~Impl()
    {
        if (haveCtx) DeleteSecurityContext(&ctx);
        if (haveCred) FreeCredentialsHandle(&cred);
        if (anchors) CertCloseStore(anchors, 0);
    }

    bool fail(TlsFailure why, std::string text)
    {
        failure = why;
        error = std::move(text);
        broken = true;
        return false;
    }

    // Every byte of the block, each wait for room bounded by what is left.
    bool sendAll(const char* bytes, size_t n, uint32_t start, uint32_t timeoutMs)
    {
        size_t done = 0;
        while (done < n) {
            const uint32_t spent = tickCount() - start;
            if (spent >= timeoutMs) {
                socketError = kSockTimedOut;
                return false;
            }
            const uint32_t piece = n - done > 0x10000000u ? 0x10000000u : static_cast<uint32_t>(n - done);
            const int64_t sent = sendSome(static_cast<SocketHandle>(s), bytes + done, piece, timeoutMs - spent);
            if (sent < 0) {
                socketError = lastSocketError();
                return false;
            }
            done += static_cast<size_t>(sent);
        }
        return true;
    }

    // More received bytes into in: 1, 0 when the peer closed, -1 (time-out: socketError).
    int receiveMore(uint32_t start, uint32_t timeoutMs)
    {
        if (in.size() - inLen < 4096) {
            if (in.size() >= kMaxHandshakeBuffer + 65536) return -1;
            in.resize(in.size() + 32768);
        }
        for (;;) {
            const uint32_t spent = tickCount() - start;
            const int w = spent >= timeoutMs ? 0 : waitReadable(static_cast<SocketHandle>(s), timeoutMs - spent);
            if (w == 0) {
                socketError = kSockTimedOut;
                return -1;
            }
            if (w < 0) {
                socketError = lastSocketError();
                return -1;
            }
            const int n = ::recv(s, in.data() + inLen, static_cast<int>(in.size() - inLen), 0);
            if (n > 0) {
                inLen += static_cast<size_t>(n);
                return 1;
            }
            if (n == 0) return 0;
            if (WSAGetLastError() == WSAEWOULDBLOCK) continue;
            socketError = lastSocketError();
            return -1;
        }
    }

    void keepExtra(const SecBuffer& extra)
    {
        if (extra.BufferType == SECBUFFER_EXTRA && extra.cbBuffer > 0 && extra.cbBuffer <= inLen) {
            std::memmove(in.data(), in.data() + (inLen - extra.cbBuffer), extra.cbBuffer);
            inLen = extra.cbBuffer;
        } else {
            inLen = 0;
        }
    }

    // The handshake's token exchange from where it stands (after the first
    // call, or a post-handshake message, which gives its bytes at once);
    // true once the context is complete.
    bool exchangeTokens(uint32_t start, uint32_t timeoutMs, bool inputReady = false)
    {
        const DWORD want = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                           ISC_REQ_EXTENDED_ERROR | ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM;
        for (bool first = true;; first = false) {
            if (inLen == 0 && !(first && inputReady)) {
                const int r = receiveMore(start, timeoutMs);
                if (r == 0)
                    return fail(TlsFailure::Handshake, "The server closed the connection during the TLS handshake.");
                if (r < 0)
                    return fail(TlsFailure::Handshake, socketError == kSockTimedOut
                                                           ? "The TLS handshake timed out."
                                                           : "Socket error in the TLS handshake.");
            }
            SecBuffer inBuffers[2] = {{static_cast<unsigned long>(inLen), SECBUFFER_TOKEN, in.data()},
                                      {0, SECBUFFER_EMPTY, nullptr}};
            SecBufferDesc inDesc{SECBUFFER_VERSION, 2, inBuffers};
            SecBuffer outBuffer{0, SECBUFFER_TOKEN, nullptr};
            SecBufferDesc outDesc{SECBUFFER_VERSION, 1, &outBuffer};
            DWORD got = 0;
            const SECURITY_STATUS st =
                InitializeSecurityContextW(&cred, &ctx, target.empty() ? nullptr : &target[0], want, 0, 0, &inDesc, 0,
                                           nullptr, &outDesc, &got, nullptr);
            if (outBuffer.pvBuffer) {
                const bool sent = outBuffer.cbBuffer == 0 || sendAll(static_cast<const char*>(outBuffer.pvBuffer),
                                                                     outBuffer.cbBuffer, start, timeoutMs);
                FreeContextBuffer(outBuffer.pvBuffer);
                if (!sent) return fail(TlsFailure::Handshake, "Socket error in the TLS handshake.");
            }
            if (st == SEC_E_INCOMPLETE_MESSAGE) {
                const int r = receiveMore(start, timeoutMs);
                if (r == 0)
                    return fail(TlsFailure::Handshake, "The server closed the connection during the TLS handshake.");
                if (r < 0)
                    return fail(TlsFailure::Handshake, socketError == kSockTimedOut
                                                           ? "The TLS handshake timed out."
                                                           : "Socket error in the TLS handshake.");
                continue;
            }
            if (st == SEC_E_OK || st == SEC_I_CONTINUE_NEEDED) {
                keepExtra(inBuffers[1]);
                if (st == SEC_E_OK) return true;
                continue;
            }
            if (st == SEC_I_INCOMPLETE_CREDENTIALS) continue;  // no client certificate to give
            return fail(classify(st), statusText(st));
        }
    }

    // The chain built from the server's certificates up to a root of the
    // system's store or of the CA file, then the SSL policy with the host
    // name. Done here rather than left to the provider, which not every
    // implementation of it does.
    bool loadCaFile(const std::string& caFile)
    {
        std::string text;
        anchors = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
        if (!anchors || !readFile(caFile, text) || addPemCertificates(text, anchors) == 0)
            return fail(TlsFailure::Handshake, "Cannot load the CA file " + caFile);
        return true;
    }

    bool verifyPeer()
    {
        PCCERT_CONTEXT remote = nullptr;
        if (QueryContextAttributesW(&ctx, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &remote) != SEC_E_OK || !remote)
            return fail(TlsFailure::Untrusted, "The server sent no certificate.");
        HCERTSTORE extra = CertOpenStore(CERT_STORE_PROV_COLLECTION, 0, 0, 0, nullptr);
        bool result = false;
        if (extra) {
            if (anchors) CertAddStoreToCollection(extra, anchors, 0, 0);
            if (remote->hCertStore) CertAddStoreToCollection(extra, remote->hCertStore, 0, 0);
            CERT_CHAIN_PARA para{};
            para.cbSize = sizeof para;
            PCCERT_CHAIN_CONTEXT chain = nullptr;
            if (CertGetCertificateChain(nullptr, remote, nullptr, extra, &para, 0, nullptr, &chain) && chain) {
                const DWORD status = chain->TrustStatus.dwErrorStatus;
                bool rootIsAnchor = false;
                if (chain->cChain > 0 && chain->rgpChain[0]->cElement > 0) {
                    const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[0];
                    PCCERT_CONTEXT root = simple->rgpElement[simple->cElement - 1]->pCertContext;
                    PCCERT_CONTEXT found = anchors ? CertFindCertificateInStore(anchors, X509_ASN_ENCODING, 0,
                                                                                CERT_FIND_EXISTING, root, nullptr)
                                                   : nullptr;
                    rootIsAnchor = found != nullptr;
                    if (found) CertFreeCertificateContext(found);
                }
                if ((status & ~static_cast<DWORD>(CERT_TRUST_IS_UNTRUSTED_ROOT)) != 0 ||
                    ((status & CERT_TRUST_IS_UNTRUSTED_ROOT) && !rootIsAnchor)) {
                    fail(TlsFailure::Untrusted, (status & CERT_TRUST_IS_NOT_TIME_VALID)
                                                    ? "The certificate has expired or is not yet valid."
                                                    : "The certificate chain does not end at a trusted CA.");
                } else {
                    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
                    ssl.cbSize = sizeof ssl;
                    ssl.dwAuthType = AUTHTYPE_SERVER;
                    ssl.fdwChecks = (status & CERT_TRUST_IS_UNTRUSTED_ROOT) ? kIgnoreUnknownCa : 0;
                    ssl.pwszServerName = target.empty() ? nullptr : &target[0];
                    CERT_CHAIN_POLICY_PARA policy{};
                    policy.cbSize = sizeof policy;
                    policy.pvExtraPolicyPara = &ssl;
                    CERT_CHAIN_POLICY_STATUS verdict{};
                    verdict.cbSize = sizeof verdict;
                    if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &verdict)) {
                        fail(TlsFailure::Untrusted, "The certificate chain cannot be checked.");
                    } else if (verdict.dwError != 0) {
                        const long e = static_cast<long>(verdict.dwError);
                        fail(classify(e), classify(e) == TlsFailure::NameMismatch
                                              ? "The certificate is not for the host " + narrow(target)
                                              : statusText(e));
                    } else {
                        result = true;
                    }
                }
                CertFreeCertificateChain(chain);
            } else {
                fail(TlsFailure::Untrusted, "The certificate chain cannot be built.");
            }
        } else {
            fail(TlsFailure::Untrusted, "The certificate chain cannot be built.");
        }
        if (extra) CertCloseStore(extra, 0);
        CertFreeCertificateContext(remote);
        return result;
    }

    void describe()
    {
        SecPkgContext_ConnectionInfo info{};
        if (QueryContextAttributesW(&ctx, SECPKG_ATTR_CONNECTION_INFO, &info) == SEC_E_OK) {
            if (info.dwProtocol & SP_PROT_TLS1_3_CLIENT) {
                version = "TLSv1.3";
            } else if (info.dwProtocol & SP_PROT_TLS1_2_CLIENT) {
                version = "TLSv1.2";
            } else {
                char v[32];
                std::snprintf(v, sizeof v, "protocol 0x%lx", static_cast<unsigned long>(info.dwProtocol));
                version = v;
            }
            char c[64];
            std::snprintf(c, sizeof c, "cipher 0x%x, %lu bits, hash 0x%x, exchange 0x%x",
                          static_cast<unsigned>(info.aiCipher), static_cast<unsigned long>(info.dwCipherStrength),
                          static_cast<unsigned>(info.aiHash), static_cast<unsigned>(info.aiExch));
            cipher = c;
        }
        PCCERT_CONTEXT remote = nullptr;
        if (QueryContextAttributesW(&ctx, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &remote) == SEC_E_OK && remote) {
            subject = certName(remote, false);
            issuer = certName(remote, true);
            CertFreeCertificateContext(remote);
        }
    }
};

TlsSession::TlsSession() : m(std::make_unique<Impl>()), m_facts(m.get()) {}
TlsSession::~TlsSession() = default;

bool TlsSession::handshake(SocketHandle s, const char* host, const TlsSettings& settings, uint32_t timeoutMs)
{
    if (m->haveCred || m->broken)
        return m->fail(TlsFailure::Handshake, "A TLS session was already started on this connection.");
    if (s == kInvalidSocket) return m->fail(TlsFailure::Handshake, "No socket for the TLS handshake.");
    m->s = static_cast<SOCKET>(s);
    m->target = wide(host ? host : "");
    u_long on = 1;
    if (ioctlsocket(m->s, FIONBIO, &on) != 0)
        return m->fail(TlsFailure::Handshake, "The socket cannot be made non-blocking.");

    if (!settings.insecure && !settings.caFile.empty() && !m->loadCaFile(settings.caFile)) return false;
    SCHANNEL_CRED cred{};
    cred.dwVersion = SCHANNEL_CRED_VERSION;
    // The certificate is checked by verifyPeer (unless insecure).
    cred.dwFlags = SCH_CRED_NO_DEFAULT_CREDS | SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_SERVERNAME_CHECK;
    cred.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT;
    TimeStamp expiry;
    SECURITY_STATUS st = AcquireCredentialsHandleW(nullptr, const_cast<wchar_t*>(UNISP_NAME_W), SECPKG_CRED_OUTBOUND,
                                                   nullptr, &cred, nullptr, nullptr, &m->cred, &expiry);
    if (st != SEC_E_OK) {
        // A system without TLS 1.3 refuses to be asked for it.
        cred.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
        st = AcquireCredentialsHandleW(nullptr, const_cast<wchar_t*>(UNISP_NAME_W), SECPKG_CRED_OUTBOUND, nullptr,
                                       &cred, nullptr, nullptr, &m->cred, &expiry);
    }
    if (st != SEC_E_OK) return m->fail(TlsFailure::Handshake, statusText(st));
    m->haveCred = true;

    const uint32_t start = tickCount();
    const DWORD want = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                       ISC_REQ_EXTENDED_ERROR | ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM;
    SecBuffer outBuffer{0, SECBUFFER_TOKEN, nullptr};
    SecBufferDesc outDesc{SECBUFFER_VERSION, 1, &outBuffer};
    DWORD got = 0;
    st = InitializeSecurityContextW(&m->cred, nullptr, m->target.empty() ? nullptr : &m->target[0], want, 0, 0, nullptr,
                                    0, &m->ctx, &outDesc, &got, nullptr);
    if (st != SEC_I_CONTINUE_NEEDED) {
        if (outBuffer.pvBuffer) FreeContextBuffer(outBuffer.pvBuffer);
        return m->fail(TlsFailure::Handshake, statusText(st));
    }
    m->haveCtx = true;
    const bool sent = m->sendAll(static_cast<const char*>(outBuffer.pvBuffer), outBuffer.cbBuffer, start, timeoutMs);
    FreeContextBuffer(outBuffer.pvBuffer);
    if (!sent) return m->fail(TlsFailure::Handshake, "Socket error in the TLS handshake.");
    m->in.resize(32768);
    if (!m->exchangeTokens(start, timeoutMs)) return false;

    if (!settings.insecure && !m->verifyPeer()) return false;
    if (QueryContextAttributesW(&m->ctx, SECPKG_ATTR_STREAM_SIZES, &m->sizes) != SEC_E_OK)
        return m->fail(TlsFailure::Handshake, "The TLS record sizes are unknown.");
    m->describe();
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
    for (;;) {
        if (m->plainPos < m->plain.size()) {
            const size_t k = std::min<size_t>(n, m->plain.size() - m->plainPos);
            std::memcpy(dest, m->plain.data() + m->plainPos, k);
            m->plainPos += k;
            if (m->plainPos == m->plain.size()) {
                m->plain.clear();
                m->plainPos = 0;
            }
            return static_cast<int64_t>(k);
        }
        if (m->inLen > 0) {
            SecBuffer buffers[4] = {{static_cast<unsigned long>(m->inLen), SECBUFFER_DATA, m->in.data()},
                                    {0, SECBUFFER_EMPTY, nullptr},
                                    {0, SECBUFFER_EMPTY, nullptr},
                                    {0, SECBUFFER_EMPTY, nullptr}};
            SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
            const SECURITY_STATUS st = DecryptMessage(&m->ctx, &desc, 0, nullptr);
            if (st == SEC_E_OK || st == SEC_I_RENEGOTIATE) {
                const SecBuffer* extra = nullptr;
                for (SecBuffer& b : buffers) {
                    if (b.BufferType == SECBUFFER_DATA && b.cbBuffer > 0) {
                        const char* p = static_cast<const char*>(b.pvBuffer);
                        m->plain.insert(m->plain.end(), p, p + b.cbBuffer);
                    }
                    if (b.BufferType == SECBUFFER_EXTRA) extra = &b;
                }
                SecBuffer none{0, SECBUFFER_EMPTY, nullptr};
                m->keepExtra(extra ? *extra : none);
                // A post-handshake message (a TLS 1.3 ticket, say) goes back to the token exchange.
                if (st == SEC_I_RENEGOTIATE && !m->exchangeTokens(start, timeoutMs, true)) {
                    timedOut = m->socketError == kSockTimedOut;
                    return -1;
                }
                continue;
            }
            if (st == SEC_I_CONTEXT_EXPIRED) return 0;  // the peer's closing alert
            if (st != SEC_E_INCOMPLETE_MESSAGE) {
                m->broken = true;
                m->error = statusText(st);
                m->socketError = 10054;
                return -1;
            }
        }
        const int r = m->receiveMore(start, timeoutMs);
        if (r == 0) return 0;
        if (r < 0) {
            timedOut = m->socketError == kSockTimedOut;
            m->error = timedOut ? "TLS read timed out." : "TLS read failed.";
            if (!timedOut) m->broken = true;
            return -1;
        }
    }
}

bool TlsSession::hasBuffered() const
{
    return established() && m->plainPos < m->plain.size();
}

int64_t TlsSession::write(const void* bytes, uint32_t n, uint32_t timeoutMs)
{
    if (!established()) {
        m->error = "No TLS session.";
        m->socketError = 10057;  // not connected
        return -1;
    }
    if (n == 0) return 0;
    const uint32_t chunk = n < m->sizes.cbMaximumMessage ? n : m->sizes.cbMaximumMessage;
    std::vector<char> record(m->sizes.cbHeader + chunk + m->sizes.cbTrailer);
    std::memcpy(record.data() + m->sizes.cbHeader, bytes, chunk);
    SecBuffer buffers[4] = {{m->sizes.cbHeader, SECBUFFER_STREAM_HEADER, record.data()},
                            {chunk, SECBUFFER_DATA, record.data() + m->sizes.cbHeader},
                            {m->sizes.cbTrailer, SECBUFFER_STREAM_TRAILER, record.data() + m->sizes.cbHeader + chunk},
                            {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
    const SECURITY_STATUS st = EncryptMessage(&m->ctx, 0, &desc, 0);
    if (st != SEC_E_OK) {
        m->broken = true;
        m->error = statusText(st);
        m->socketError = 10054;
        return -1;
    }
    // A record goes out whole or the session is over: half of one cannot be taken back.
    const size_t total = buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer;
    if (!m->sendAll(record.data(), total, tickCount(), timeoutMs)) {
        m->broken = true;
        m->error = m->socketError == kSockTimedOut ? "TLS write timed out." : "TLS write failed.";
        return -1;
    }
    return chunk;
}

void TlsSession::shutdown(uint32_t timeoutMs)
{
    if (!established()) return;
    m->established = false;
    DWORD type = SCHANNEL_SHUTDOWN;
    SecBuffer token{sizeof type, SECBUFFER_TOKEN, &type};
    SecBufferDesc tokenDesc{SECBUFFER_VERSION, 1, &token};
    if (ApplyControlToken(&m->ctx, &tokenDesc) != SEC_E_OK) return;
    const DWORD want = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                       ISC_REQ_EXTENDED_ERROR | ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM;
    SecBuffer outBuffer{0, SECBUFFER_TOKEN, nullptr};
    SecBufferDesc outDesc{SECBUFFER_VERSION, 1, &outBuffer};
    DWORD got = 0;
    const SECURITY_STATUS st =
        InitializeSecurityContextW(&m->cred, &m->ctx, m->target.empty() ? nullptr : &m->target[0], want, 0, 0, nullptr,
                                   0, nullptr, &outDesc, &got, nullptr);
    if (outBuffer.pvBuffer) {
        if ((st == SEC_E_OK || st == SEC_I_CONTEXT_EXPIRED) && outBuffer.cbBuffer > 0)
            (void)m->sendAll(static_cast<const char*>(outBuffer.pvBuffer), outBuffer.cbBuffer, tickCount(), timeoutMs);
        FreeContextBuffer(outBuffer.pvBuffer);
    }
}

}  // namespace platform

}  // namespace hanamail
