#ifndef _WIN32
#include "platform/posix/TlsAnchors.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using namespace hanamail;
using platform::BundleCertificate;
using platform::splitBundle;

namespace {

std::string pemOf(const std::string& der, const char* label = "CERTIFICATE")
{
    std::string b64(4 * ((der.size() + 2) / 3) + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&b64[0]),
                                  reinterpret_cast<const unsigned char*>(der.data()), static_cast<int>(der.size()));
    b64.resize(static_cast<size_t>(n));
    std::string out = std::string("-----BEGIN ") + label + "-----\n";
    for (size_t i = 0; i < b64.size(); i += 64) out += b64.substr(i, 64) + "\n";
    return out + "-----END " + label + "-----\n";
}

std::string tlv(unsigned char tag, const std::string& content)
{
    std::string out(1, static_cast<char>(tag));
    if (content.size() < 0x80) {
        out += static_cast<char>(content.size());
    } else {
        out += static_cast<char>(0x82);
        out += static_cast<char>(content.size() >> 8);
        out += static_cast<char>(content.size() & 0xFF);
    }
    return out + content;
}

// The outline of a certificate: just the elements in front of the subject.
std::string outline(bool withVersion, const std::string& subject)
{
    std::string tbs;
    if (withVersion) tbs += tlv(0xA0, tlv(0x02, "\x02"));
    tbs += tlv(0x02, "\x01") + tlv(0x30, "") + tlv(0x30, "issuer") + tlv(0x30, "validity") + subject + tlv(0x30, "key");
    return tlv(0x30, tlv(0x30, tbs) + tlv(0x30, "sig"));
}

}  // namespace

TEST(TlsAnchors, SubjectsOfTheSystemBundleAreTheOnesOpenSslReads)
{
    std::ifstream in("/etc/ssl/certs/ca-certificates.crt", std::ios::binary);
    if (!in) GTEST_SKIP() << "no system bundle here";
    std::stringstream text;
    text << in.rdbuf();
    const std::string pem = text.str();
    std::vector<BundleCertificate> certs;
    ASSERT_TRUE(splitBundle(pem, certs));
    size_t blocks = 0;
    for (size_t at = pem.find("-----BEGIN CERTIFICATE-----"); at != std::string::npos;
         at = pem.find("-----BEGIN CERTIFICATE-----", at + 1))
        ++blocks;
    ASSERT_EQ(certs.size(), blocks);
    ASSERT_GT(blocks, 0u);
    for (const BundleCertificate& c : certs) {
        const auto* p = reinterpret_cast<const unsigned char*>(c.der.data());
        X509* x = d2i_X509(nullptr, &p, static_cast<long>(c.der.size()));
        ASSERT_NE(x, nullptr);
        EXPECT_EQ(p, reinterpret_cast<const unsigned char*>(c.der.data()) + c.der.size());
        unsigned char* name = nullptr;
        const int n = i2d_X509_NAME(X509_get_subject_name(x), &name);
        ASSERT_GT(n, 0);
        EXPECT_EQ(c.subject, std::string(reinterpret_cast<char*>(name), static_cast<size_t>(n)));
        OPENSSL_free(name);
        X509_free(x);
    }
}

TEST(TlsAnchors, SubjectWithAndWithoutAVersion)
{
    const std::string subject = tlv(0x30, tlv(0x31, "CN=x"));
    for (bool version : {true, false}) {
        std::vector<BundleCertificate> certs;
        ASSERT_TRUE(splitBundle("header text\n" + pemOf(outline(version, subject)) + "trailer\n", certs));
        ASSERT_EQ(certs.size(), 1u);
        EXPECT_EQ(certs[0].subject, subject);
        EXPECT_EQ(certs[0].der, outline(version, subject));
    }
    std::vector<BundleCertificate> none;
    EXPECT_TRUE(splitBundle("", none));
    EXPECT_TRUE(none.empty());
}

TEST(TlsAnchors, AnythingButPlainCertificatesIsRefused)
{
    const std::string good = outline(true, tlv(0x30, "subject"));
    std::string longer = outline(true, tlv(0x30, std::string(300, 'n')));
    const std::string cases[] = {
        pemOf(good, "TRUSTED CERTIFICATE"),
        pemOf(good, "X509 CRL"),
        pemOf(good) + pemOf(good, "PRIVATE KEY"),
        "-----BEGIN CERTIFICATE-----\nMIIB\n",                                       // no end
        "-----BEGIN CERTIFICATE-----\nMII\n-----END CERTIFICATE-----\n",             // not whole base64
        "-----BEGIN CERTIFICATE-----\nMI*B\n-----END CERTIFICATE-----\n",            // not base64
        "-----BEGIN CERTIFICATE-----\n-----BEGIN CERTIFICATE-----\n" + pemOf(good),  // nested
        pemOf(good.substr(0, good.size() - 6)),                                      // cut short
        pemOf(good + std::string(6, '\0')),                                          // more than the certificate
        pemOf(longer.substr(0, 200)),                                                // long form length past the end
        pemOf(tlv(0x30, tlv(0x30, tlv(0x02, "\x01") + tlv(0x31, "x")))),             // an element of the wrong kind
        pemOf(tlv(0x30, tlv(0x30, tlv(0x02, "\x01")))),                              // no subject
        pemOf(std::string("\x30\x84\xFF\xFF\xFF\xFF", 6)),                           // a length beyond any text
        pemOf(std::string("\x1F\x01\x00", 3)),                                       // high tag number form
    };
    for (const std::string& pem : cases) {
        std::vector<BundleCertificate> certs;
        EXPECT_FALSE(splitBundle(pem, certs)) << pem;
    }
}
#endif
