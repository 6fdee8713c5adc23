#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

#include "platform/posix/TlsAnchors.h"

namespace hanamail {

namespace platform {

namespace {

const char kBegin[] = "-----BEGIN ";
const char kCertificate[] = "-----BEGIN CERTIFICATE-----";
const char kEnd[] = "-----END CERTIFICATE-----";

// One DER element at the start of bytes: its tag, where its content starts
// and how long it is; false unless it lies wholly within n bytes.
bool element(const unsigned char* bytes, size_t n, unsigned char& tag, size_t& header, size_t& length)
{
    if (n < 2 || (bytes[0] & 0x1F) == 0x1F) return false;
    tag = bytes[0];
    if (bytes[1] < 0x80) {
        header = 2;
        length = bytes[1];
    } else {
        const size_t k = bytes[1] & 0x7F;
        if (k == 0 || k > 4 || n < 2 + k) return false;
        length = 0;
        for (size_t i = 0; i < k; ++i) length = (length << 8) | bytes[2 + i];
        header = 2 + k;
    }
    return length <= n - header;
}

// The subject name of a certificate: in the signed part, after the version
// (when there is one), serial number, algorithm, issuer and validity.
bool subjectOf(const std::string& der, std::string& subject)
{
    const auto* p = reinterpret_cast<const unsigned char*>(der.data());
    unsigned char tag;
    size_t header, length;
    if (!element(p, der.size(), tag, header, length) || tag != 0x30) return false;
    const unsigned char* at = p + header;
    if (!element(at, length, tag, header, length) || tag != 0x30) return false;
    at += header;
    size_t left = length;
    // Passes over one element of the tag wanted (any tag for 0).
    const auto pass = [&](unsigned char want) {
        if (!element(at, left, tag, header, length) || (want != 0 && tag != want)) return false;
        at += header + length;
        left -= header + length;
        return true;
    };
    if (left > 0 && at[0] == 0xA0 && !pass(0xA0)) return false;
    if (!pass(0x02) || !pass(0x30) || !pass(0x30) || !pass(0x30)) return false;
    const unsigned char* start = at;
    if (!pass(0x30)) return false;
    subject.assign(reinterpret_cast<const char*>(start), static_cast<size_t>(at - start));
    return true;
}

bool decodeBlock(const std::string& pem, size_t from, size_t to, std::string& der)
{
    std::string text;
    for (size_t i = from; i < to; ++i) {
        const char c = pem[i];
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
        text += c;
    }
    if (text.empty() || text.size() % 4 != 0) return false;
    std::string bytes(text.size() / 4 * 3, '\0');
    const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(&bytes[0]),
                                  reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
    if (n <= 0) return false;
    // The padding's zero bytes are not the certificate's: its own length says.
    unsigned char tag;
    size_t header, length;
    if (!element(reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<size_t>(n), tag, header, length))
        return false;
    if (static_cast<size_t>(n) - (header + length) > 2) return false;
    bytes.resize(header + length);
    der = std::move(bytes);
    return true;
}

// What a bundle lookup holds: the certificates and, once compared, their
// subjects parsed.
struct BundleIndex {
    std::vector<BundleCertificate> certs;
    std::vector<X509_NAME*> names;
    std::vector<bool> added;

    ~BundleIndex()
    {
        for (X509_NAME* n : names) X509_NAME_free(n);
    }

    bool sameSubject(size_t i, const X509_NAME* name, const std::string& encoded)
    {
        if (certs[i].subject == encoded) return true;
        // Names that match only after canonical folding (case, spaces).
        if (!names[i]) {
            const auto* p = reinterpret_cast<const unsigned char*>(certs[i].subject.data());
            names[i] = d2i_X509_NAME(nullptr, &p, static_cast<long>(certs[i].subject.size()));
            if (!names[i]) ERR_clear_error();
        }
        return names[i] && X509_NAME_cmp(name, names[i]) == 0;
    }
};

// Parses the bundle's certificates with the subject asked for into the
// store, and answers from the store as OpenSSL's own lookups do: the object
// given back holds no reference of its own (the caller takes one).
int bySubject(X509_LOOKUP* lookup, X509_LOOKUP_TYPE type, const X509_NAME* name, X509_OBJECT* ret)
{
    auto* index = static_cast<BundleIndex*>(X509_LOOKUP_get_method_data(lookup));
    X509_STORE* store = X509_LOOKUP_get_store(lookup);
    if (type != X509_LU_X509 || !index || !name || !store || !ret) return 0;
    unsigned char* der = nullptr;
    const int n = i2d_X509_NAME(name, &der);
    if (n <= 0) {
        ERR_clear_error();
        return 0;
    }
    const std::string encoded(reinterpret_cast<const char*>(der), static_cast<size_t>(n));
    OPENSSL_free(der);
    bool any = false;
    for (size_t i = 0; i < index->certs.size(); ++i) {
        if (index->added[i] || !index->sameSubject(i, name, encoded)) continue;
        index->added[i] = true;
        const auto* p = reinterpret_cast<const unsigned char*>(index->certs[i].der.data());
        X509* cert = d2i_X509(nullptr, &p, static_cast<long>(index->certs[i].der.size()));
        if (cert && X509_STORE_add_cert(store, cert) == 1) any = true;
        X509_free(cert);
        ERR_clear_error();
    }
    if (!any) return 0;
    X509_OBJECT* found = X509_OBJECT_retrieve_by_subject(X509_STORE_get0_objects(store), X509_LU_X509, name);
    X509* cert = found ? X509_OBJECT_get0_X509(found) : nullptr;
    if (!cert || X509_OBJECT_set1_X509(ret, cert) != 1) return 0;
    X509_free(cert);  // the reference set1 took: the caller takes its own
    return 1;
}

void freeIndex(X509_LOOKUP* lookup)
{
    delete static_cast<BundleIndex*>(X509_LOOKUP_get_method_data(lookup));
    X509_LOOKUP_set_method_data(lookup, nullptr);
}

X509_LOOKUP_METHOD* bundleMethod()
{
    static X509_LOOKUP_METHOD* method = nullptr;
    static std::once_flag once;
    std::call_once(once, [] {
        X509_LOOKUP_METHOD* m = X509_LOOKUP_meth_new("hanamail bundle");
        if (m && X509_LOOKUP_meth_set_get_by_subject(m, bySubject) == 1 && X509_LOOKUP_meth_set_free(m, freeIndex) == 1)
            method = m;
        else
            X509_LOOKUP_meth_free(m);
    });
    return method;
}

bool readFile(const char* path, std::string& out)
{
    FILE* f = std::fopen(path, "rb");
    if (!f) return false;
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) out.append(buffer, n);
    const bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

std::string settingOr(const char* variable, const char* fallback)
{
    const char* value = std::getenv(variable);
    return value && *value ? value : fallback;
}

}  // namespace

bool splitBundle(const std::string& pem, std::vector<BundleCertificate>& out)
{
    out.clear();
    size_t at = 0;
    for (;;) {
        const size_t begin = pem.find(kBegin, at);
        if (begin == std::string::npos) return true;
        if (pem.compare(begin, sizeof kCertificate - 1, kCertificate) != 0) return false;
        const size_t body = begin + sizeof kCertificate - 1;
        const size_t end = pem.find(kEnd, body);
        if (end == std::string::npos || pem.find(kBegin, body) < end) return false;
        BundleCertificate c;
        if (!decodeBlock(pem, body, end, c.der) || !subjectOf(c.der, c.subject)) return false;
        out.push_back(std::move(c));
        at = end + sizeof kEnd - 1;
    }
}

void addSystemAnchors(SSL_CTX* ctx)
{
    X509_STORE* store = SSL_CTX_get_cert_store(ctx);
    if (!store) return;
    const std::string file = settingOr(X509_get_default_cert_file_env(), X509_get_default_cert_file());
    std::string pem;
    if (readFile(file.c_str(), pem)) {
        auto index = std::make_unique<BundleIndex>();
        X509_LOOKUP_METHOD* method = bundleMethod();
        X509_LOOKUP* lookup = nullptr;
        if (method && splitBundle(pem, index->certs) && (lookup = X509_STORE_add_lookup(store, method)) != nullptr) {
            index->names.assign(index->certs.size(), nullptr);
            index->added.assign(index->certs.size(), false);
            freeIndex(lookup);  // a lookup already there gives way to this bundle
            X509_LOOKUP_set_method_data(lookup, index.release());
        } else {
            // Not a plain bundle of certificates: OpenSSL reads it whole.
            X509_LOOKUP* whole = X509_STORE_add_lookup(store, X509_LOOKUP_file());
            if (whole) (void)X509_LOOKUP_load_file(whole, file.c_str(), X509_FILETYPE_PEM);
        }
    }
    // The hashed directory is read a certificate at a time by OpenSSL itself.
    X509_LOOKUP* dir = X509_STORE_add_lookup(store, X509_LOOKUP_hash_dir());
    if (dir) (void)X509_LOOKUP_add_dir(dir, nullptr, X509_FILETYPE_DEFAULT);
    ERR_clear_error();
}

}  // namespace platform

}  // namespace hanamail
