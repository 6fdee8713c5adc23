// A certificate bundle through the split that indexes the system's trust
// anchors: every certificate it gives must be one whole DER element, its
// subject a whole element inside it, and both readable by OpenSSL's own
// parsers without harm (which may still refuse them).
#include <openssl/err.h>
#include <openssl/x509.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/posix/TlsAnchors.h"

using namespace hanamail;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string pem(reinterpret_cast<const char*>(data), size);
    std::vector<platform::BundleCertificate> certs;
    if (!platform::splitBundle(pem, certs)) return 0;
    for (const platform::BundleCertificate& c : certs) {
        if (c.subject.empty() || c.subject.size() > c.der.size() || c.der.find(c.subject) == std::string::npos)
            std::abort();
        const auto* p = reinterpret_cast<const unsigned char*>(c.subject.data());
        X509_NAME_free(d2i_X509_NAME(nullptr, &p, static_cast<long>(c.subject.size())));
        p = reinterpret_cast<const unsigned char*>(c.der.data());
        X509_free(d2i_X509(nullptr, &p, static_cast<long>(c.der.size())));
        ERR_clear_error();
    }
    return 0;
}
