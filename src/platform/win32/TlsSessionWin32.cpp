// This build has no TLS: every handshake fails at once with a text that
// says so, and nothing is ever sent in the clear in its place.
#include "platform/TlsSession.h"

namespace hanamail {

namespace platform {

struct TlsSession::Impl {
    std::string error;
};

TlsSession::TlsSession() : m(std::make_unique<Impl>()) {}
TlsSession::~TlsSession() = default;

bool TlsSession::handshake(SocketHandle, const char*, const TlsSettings&, uint32_t)
{
    m->error = "TLS is not available in this build.";
    return false;
}

bool TlsSession::established() const
{
    return false;
}

int64_t TlsSession::read(void*, uint32_t, uint32_t, bool& timedOut)
{
    timedOut = false;
    return -1;
}

bool TlsSession::hasBuffered() const
{
    return false;
}

int64_t TlsSession::write(const void*, uint32_t, uint32_t)
{
    return -1;
}

void TlsSession::shutdown(uint32_t) {}

TlsFailure TlsSession::failure() const
{
    return m->error.empty() ? TlsFailure::None : TlsFailure::Unavailable;
}

std::string TlsSession::errorText() const
{
    return m->error;
}

int TlsSession::socketError() const
{
    return 10057;  // not connected
}

std::string TlsSession::version() const
{
    return std::string();
}

std::string TlsSession::cipher() const
{
    return std::string();
}

std::string TlsSession::peerSubject() const
{
    return std::string();
}

std::string TlsSession::peerIssuer() const
{
    return std::string();
}

}  // namespace platform

}  // namespace hanamail
