#pragma once
// The system's trust anchors for a TLS client context.
#include <openssl/ssl.h>

#include <string>
#include <vector>

namespace hanamail {

namespace platform {

// Adds the anchors OpenSSL's default paths name (SSL_CERT_FILE and
// SSL_CERT_DIR, else the built-in bundle and directory) to ctx's store, as
// SSL_CTX_set_default_verify_paths would. The bundle's certificates are
// parsed only when a chain asks for their subject: parsing all of a system
// bundle (some 140 certificates) costs tens of milliseconds a connection.
void addSystemAnchors(SSL_CTX* ctx);

// One certificate of a PEM bundle, as DER, with its subject name's DER.
struct BundleCertificate {
    std::string der;
    std::string subject;
};

// The certificates of a PEM bundle; false when the text holds anything but
// well-formed "CERTIFICATE" blocks (the bundle is then loaded whole).
bool splitBundle(const std::string& pem, std::vector<BundleCertificate>& out);

}  // namespace platform

}  // namespace hanamail
