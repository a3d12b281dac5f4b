#pragma once
// TIdentity: this user's key pair and self-signed certificate, which a copy
// presents on encrypted links. Made at the first start (P-256), kept in the
// program folder in one PEM file (key, then certificate), mode 0600 and
// written atomically. Peers know it by the SHA-256 fingerprint of the
// certificate's DER form.
//
// Immutable once made: any thread may use one, and copies share the key.

#include <memory>
#include <string>

typedef struct evp_pkey_st EVP_PKEY;
typedef struct x509_st X509;

namespace dz::net {

class TIdentity {
public:
    // The file's name in the program folder.
    static constexpr const char *kFileName = "Dizaruz-key.pem";

    // Reads folder + kFileName (folder ends in '/'). When it is missing, a
    // new identity is made and written. A file that holds no usable key and
    // matching certificate is kept aside as kFileName + ".damaged" and
    // replaced by a new identity; Renewed() then tells the window, which
    // says so (peers that pinned the old key will be asked again). A folder
    // that takes no file: the identity lives for this run only (Stored()
    // false). Never raises for what is on the disk.
    static TIdentity LoadOrCreate(const std::string &folder, const std::string &commonName);
    // A new identity in memory only (tests, benchmarks, a read-only medium).
    static TIdentity Generate(const std::string &commonName);

    EVP_PKEY *Key() const { return key_.get(); }
    X509 *Certificate() const { return cert_.get(); }
    // 64 lowercase hex digits.
    const std::string &Fingerprint() const { return fingerprint_; }
    // The stored file was damaged and a new key replaced it.
    bool Renewed() const { return renewed_; }
    // The identity is on the disk (false: could not be written).
    bool Stored() const { return stored_; }

private:
    TIdentity() = default;
    std::shared_ptr<EVP_PKEY> key_;
    std::shared_ptr<X509> cert_;
    std::string fingerprint_;
    bool renewed_ = false;
    bool stored_ = false;
};

// SHA-256 of the certificate's DER form as 64 lowercase hex digits; "" for
// a null certificate.
std::string CertificateFingerprint(X509 *cert);

} // namespace dz::net
