#include "net/identity.h"

#include "util/errors.h"
#include "util/files.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>

#include <cstdio>
#include <cstdint>

namespace dz::net {
namespace {

std::shared_ptr<EVP_PKEY> OwnKey(EVP_PKEY *key)
{
    return std::shared_ptr<EVP_PKEY>(key, EVP_PKEY_free);
}

std::shared_ptr<X509> OwnCert(X509 *cert)
{
    return std::shared_ptr<X509>(cert, X509_free);
}

// A self-signed certificate for the key. Nobody checks its names or dates
// (peers know it by fingerprint), but a generous validity keeps ordinary
// tools from calling it expired.
std::shared_ptr<X509> SelfSigned(EVP_PKEY *key, const std::string &commonName)
{
    auto cert = OwnCert(X509_new());
    if (!cert)
        throw Exception("Cannot make a certificate");
    std::uint8_t serial[16];
    if (RAND_bytes(serial, sizeof serial) != 1)
        throw Exception("Cannot make a certificate");
    serial[0] &= 0x7F; // a positive serial
    BIGNUM *bn = BN_bin2bn(serial, sizeof serial, nullptr);
    const bool ok = bn && X509_set_version(cert.get(), 2) == 1 &&
                    BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert.get())) != nullptr &&
                    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -24L * 3600) != nullptr &&
                    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 30L * 365 * 24 * 3600) != nullptr &&
                    X509_set_pubkey(cert.get(), key) == 1;
    BN_free(bn);
    X509_NAME *name = X509_get_subject_name(cert.get());
    const std::string cn = commonName.empty() ? std::string("Dizaruz") : commonName.substr(0, 64);
    if (!ok ||
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char *>(cn.data()),
                                   static_cast<int>(cn.size()), -1, 0) != 1 ||
        X509_set_issuer_name(cert.get(), name) != 1 || X509_sign(cert.get(), key, EVP_sha256()) <= 0)
        throw Exception("Cannot make a certificate");
    return cert;
}

std::string ToPem(EVP_PKEY *key, X509 *cert)
{
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), BIO_free);
    if (!bio || PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) != 1 ||
        PEM_write_bio_X509(bio.get(), cert) != 1)
        throw Exception("Cannot write the key");
    char *data = nullptr;
    const long n = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<std::size_t>(n));
}

} // namespace

std::string CertificateFingerprint(X509 *cert)
{
    if (cert == nullptr)
        return {};
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    if (X509_digest(cert, EVP_sha256(), digest, &n) != 1)
        return {};
    static const char kHex[] = "0123456789abcdef";
    std::string text;
    text.reserve(2 * n);
    for (unsigned int i = 0; i < n; ++i) {
        text += kHex[digest[i] >> 4];
        text += kHex[digest[i] & 15];
    }
    return text;
}

TIdentity TIdentity::Generate(const std::string &commonName)
{
    TIdentity id;
    id.key_ = OwnKey(EVP_EC_gen("P-256"));
    if (!id.key_)
        throw Exception("Cannot make a key");
    id.cert_ = SelfSigned(id.key_.get(), commonName);
    id.fingerprint_ = CertificateFingerprint(id.cert_.get());
    return id;
}

TIdentity TIdentity::LoadOrCreate(const std::string &folder, const std::string &commonName)
{
    const std::string path = folder + kFileName;
    bool damaged = false;
    if (FileExists(path)) {
        try {
            const std::string pem = ReadFileBytes(path);
            std::unique_ptr<BIO, decltype(&BIO_free)> bio(
                BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())), BIO_free);
            TIdentity id;
            id.key_ = OwnKey(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
            id.cert_ = OwnCert(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
            // The key must be one this program makes, and the certificate its own.
            const int type = id.key_ ? EVP_PKEY_get_base_id(id.key_.get()) : 0;
            if (id.key_ && id.cert_ && (type == EVP_PKEY_EC || type == EVP_PKEY_ED25519) &&
                X509_check_private_key(id.cert_.get(), id.key_.get()) == 1) {
                id.fingerprint_ = CertificateFingerprint(id.cert_.get());
                id.stored_ = true;
                return id;
            }
        } catch (const std::exception &) {
            // unreadable: treated as damaged below
        }
        damaged = true;
        // Keep what was there for a look; never silently lose a key.
        std::rename(path.c_str(), (path + ".damaged").c_str());
    }
    TIdentity id = Generate(commonName);
    id.renewed_ = damaged;
    try {
        WriteFileAtomic(path, ToPem(id.key_.get(), id.cert_.get()), 0600);
        id.stored_ = true;
    } catch (const std::exception &) {
        id.stored_ = false;
    }
    return id;
}

} // namespace dz::net
