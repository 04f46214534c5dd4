#include "tests/support/TestCertificates.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <vector>

namespace testsupport {

namespace {

struct KeyDeleter {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct CertificateDeleter {
    void operator()(X509* certificate) const { X509_free(certificate); }
};
struct FileDeleter {
    void operator()(FILE* file) const { std::fclose(file); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyDeleter>;
using Certificate = std::unique_ptr<X509, CertificateDeleter>;
using File = std::unique_ptr<FILE, FileDeleter>;

void check(bool ok, const char* what) {
    if (!ok) throw std::runtime_error(std::string("test certificates: ") + what + " failed");
}

Key newKey() {
    Key key(EVP_EC_gen("P-256"));
    check(key != nullptr, "key generation");
    return key;
}

void addExtension(X509* certificate, X509* issuer, int nid, const char* value) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    check(extension != nullptr, "extension");
    X509_add_ext(certificate, extension, -1);
    X509_EXTENSION_free(extension);
}

// A certificate for `subjectKey` named `commonName`; self-signed when issuer is null.
Certificate newCertificate(EVP_PKEY* subjectKey, const char* commonName, long serial, X509* issuer,
                           EVP_PKEY* issuerKey, const std::string& altNames = {}) {
    Certificate certificate(X509_new());
    check(certificate != nullptr, "X509_new");
    X509* c = certificate.get();
    X509_set_version(c, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(c), serial);
    // Start a little in the past so that clock skew between steps cannot make it "not yet valid".
    X509_gmtime_adj(X509_getm_notBefore(c), -3600);
    X509_gmtime_adj(X509_getm_notAfter(c), 2 * 24 * 3600);
    X509_set_pubkey(c, subjectKey);
    X509_NAME* name = X509_get_subject_name(c);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(commonName), -1, -1, 0);
    X509_set_issuer_name(c, issuer ? X509_get_subject_name(issuer) : name);
    X509* signer = issuer ? issuer : c;
    if (issuer == nullptr) {
        addExtension(c, signer, NID_basic_constraints, "critical,CA:TRUE");
        addExtension(c, signer, NID_key_usage, "critical,keyCertSign,cRLSign");
        addExtension(c, signer, NID_subject_key_identifier, "hash");
    } else {
        addExtension(c, signer, NID_basic_constraints, "critical,CA:FALSE");
        addExtension(c, signer, NID_key_usage, "critical,digitalSignature,keyEncipherment");
        addExtension(c, signer, NID_ext_key_usage, "serverAuth");
        addExtension(c, signer, NID_subject_alt_name, altNames.c_str());
        addExtension(c, signer, NID_authority_key_identifier, "keyid:always");
    }
    check(X509_sign(c, issuerKey, EVP_sha256()) > 0, "signing");
    return certificate;
}

File openForWriting(const std::string& path) {
    File file(std::fopen(path.c_str(), "w"));
    check(file != nullptr, "opening a PEM file");
    return file;
}

void writeCertificate(const std::string& path, X509* certificate) {
    File file = openForWriting(path);
    check(PEM_write_X509(file.get(), certificate) == 1, "writing a certificate");
}

void writeKey(const std::string& path, EVP_PKEY* key) {
    File file = openForWriting(path);
    check(PEM_write_PrivateKey(file.get(), key, nullptr, nullptr, 0, nullptr, nullptr) == 1,
          "writing a key");
}

}  // namespace

TestCertificates::TestCertificates(const std::string& subjectAltNames) {
    std::string pattern = (std::filesystem::temp_directory_path() / "ostra-tls-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    check(mkdtemp(buffer.data()) != nullptr, "mkdtemp");
    directory_ = buffer.data();
    caFile_ = directory_ + "/ca.pem";
    certificateFile_ = directory_ + "/server.pem";
    keyFile_ = directory_ + "/server.key";

    Key caKey = newKey();
    Certificate ca = newCertificate(caKey.get(), "Ostra Test CA", 1, nullptr, caKey.get());
    Key serverKey = newKey();
    Certificate server = newCertificate(serverKey.get(), "Ostra Test Server", 2, ca.get(),
                                        caKey.get(), subjectAltNames);
    writeCertificate(caFile_, ca.get());
    writeCertificate(certificateFile_, server.get());
    writeKey(keyFile_, serverKey.get());
}

TestCertificates::~TestCertificates() {
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
}

}  // namespace testsupport
