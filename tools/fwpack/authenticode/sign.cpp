#include "tools/fwpack/authenticode/sign.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/provider.h>
#include <openssl/x509v3.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/builder_files.h"
#include "tools/fwpack/authenticode/image.h"
#include "tools/fwpack/authenticode/names.h"
#include "tools/fwpack/authenticode/timestamp.h"
#include "tools/fwpack/authenticode/token_identity.h"
#include "tools/fwpack/authenticode/der.h"

namespace fwpack {
namespace {

constexpr size_t kTableReserve = 64 * 1024;

const char *Password() { return std::getenv(kSignPasswordVariable); }

// Hands libcrypto the password from the environment; never prompts.
int PasswordCallback(char *buf, int size, int, void *) {
    const char *p = Password();
    if (!p) return 0;
    const size_t n = std::strlen(p);
    if (n > size_t(size)) return 0;
    std::memcpy(buf, p, n);
    return int(n);
}

BioPtr OpenFile(const std::string &option, const std::string &path, std::string &error) {
    // Read as every other input is: a FIFO or a device is refused before a
    // read that could block, and a missing file says so.
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(path, bytes, error)) {
        error = option + ": " + error;
        return nullptr;
    }
    BioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio || BIO_write(bio.get(), bytes.data(), int(bytes.size())) != int(bytes.size())) {
        error = option + " " + path + ": out of memory";
        return nullptr;
    }
    return bio;
}

bool LoadPem(const SigningRequest &r, SigningIdentity &out, std::string &error) {
    if (r.Cert.empty() || r.Key.empty()) {
        error = "signing needs both --sign-cert and --sign-key (or --sign-pkcs12, or --sign-pkcs11)";
        return false;
    }
    if (!LoadCertificates(r.Cert, out, error)) return false;
    BioPtr key = OpenFile("--sign-key", r.Key, error);
    if (!key) return false;
    out.Key.reset(PEM_read_bio_PrivateKey(key.get(), nullptr, PasswordCallback, nullptr));
    if (!out.Key) {
        error = "--sign-key " + r.Key + ": bad key: not a PEM private key, or protected and " +
                kSignPasswordVariable + " does not hold its password (" + OpenSslReason() + ")";
        return false;
    }
    return true;
}

// Providers this run loaded stay loaded until the program ends, and are
// unloaded then (before libcrypto's own clean-up, which was registered
// earlier), so that nothing they hold is left behind.
class LoadedProviders {
public:
    bool Load(const char *name) {
        OSSL_PROVIDER *p = OSSL_PROVIDER_try_load(nullptr, name, 1);
        if (p) loaded_.push_back(p);
        return p != nullptr;
    }
    ~LoadedProviders() {
        for (auto it = loaded_.rbegin(); it != loaded_.rend(); ++it) OSSL_PROVIDER_unload(*it);
    }

private:
    std::vector<OSSL_PROVIDER *> loaded_;
};

// Files exported by older systems encrypt with RC2, which OpenSSL keeps in
// its legacy provider: loaded only when a file needs it.
bool ParseWithLegacyProvider(PKCS12 *p12, const char *password, EVP_PKEY *&key, X509 *&cert,
                             STACK_OF(X509) *&chain, std::string &error) {
    error = OpenSslReason();
    if (!OSSL_PROVIDER_available(nullptr, "legacy")) {
        static LoadedProviders providers;
        providers.Load("default");
        if (!providers.Load("legacy")) {
            ERR_clear_error();
            error += "; an old file's RC2 encryption needs OpenSSL's legacy provider, which is not installed";
            return false;
        }
    }
    if (PKCS12_parse(p12, password, &key, &cert, &chain)) return true;
    error = OpenSslReason();
    return false;
}

bool LoadPkcs12(const SigningRequest &r, SigningIdentity &out, std::string &error) {
    BioPtr bio = OpenFile("--sign-pkcs12", r.Pkcs12, error);
    if (!bio) return false;
    std::unique_ptr<PKCS12, OpenSslFree<PKCS12, PKCS12_free>> p12(d2i_PKCS12_bio(bio.get(), nullptr));
    if (!p12) {
        error = "--sign-pkcs12 " + r.Pkcs12 + ": not a PKCS#12 file (" + OpenSslReason() + ")";
        return false;
    }
    const char *password = Password() ? Password() : "";
    // Without a MAC nothing shows whether the file is intact or the
    // password right, and the library will not open it: say which it is.
    if (!PKCS12_mac_present(p12.get())) {
        error = "--sign-pkcs12 " + r.Pkcs12 + ": has no integrity check (MAC); export it again with one";
        return false;
    }
    if (!PKCS12_verify_mac(p12.get(), password, -1)) {
        error = "--sign-pkcs12 " + r.Pkcs12 + ": wrong password (" +
                (Password() ? std::string("the one in ") + kSignPasswordVariable
                            : std::string(kSignPasswordVariable) + " is not set") + ")";
        ERR_clear_error();
        return false;
    }
    EVP_PKEY *key = nullptr;
    X509 *cert = nullptr;
    STACK_OF(X509) *chain = nullptr;
    if (!PKCS12_parse(p12.get(), password, &key, &cert, &chain) &&
        !ParseWithLegacyProvider(p12.get(), password, key, cert, chain, error)) {
        error = "--sign-pkcs12 " + r.Pkcs12 + ": cannot read it (" + error + ")";
        return false;
    }
    out.Key.reset(key);
    out.Cert.reset(cert);
    out.Chain.reset(chain ? chain : sk_X509_new_null());
    if (!out.Key || !out.Cert) {
        error = "--sign-pkcs12 " + r.Pkcs12 + ": holds no " + (out.Key ? "certificate" : "private key");
        return false;
    }
    return true;
}

// The checks a signer would otherwise learn about only from a refused package.
bool CheckIdentity(const SigningIdentity &id, const std::string &certName, std::string &error) {
    const std::string subject = NameLine(X509_get_subject_name(id.Cert.get()));
    if (X509_check_private_key(id.Cert.get(), id.Key.get()) != 1) {
        ERR_clear_error();
        error = "the key does not match the certificate " + certName + " (" + subject + ")";
        return false;
    }
    if (X509_cmp_current_time(X509_get0_notAfter(id.Cert.get())) < 0) {
        error = "the certificate " + certName + " (" + subject + ") expired on " +
                TimeLine(X509_get0_notAfter(id.Cert.get()));
        return false;
    }
    if (X509_cmp_current_time(X509_get0_notBefore(id.Cert.get())) > 0) {
        error = "the certificate " + certName + " (" + subject + ") is not valid before " +
                TimeLine(X509_get0_notBefore(id.Cert.get()));
        return false;
    }
    const bool limited = X509_get_extension_flags(id.Cert.get()) & EXFLAG_XKUSAGE;
    if (limited && !(X509_get_extended_key_usage(id.Cert.get()) & XKU_CODE_SIGN)) {
        error = "the certificate " + certName + " (" + subject +
                ") is not for code signing (its extended key usage lacks codeSigning)";
        return false;
    }
    return true;
}

// The signature value over si's signed attributes, by the key file or the
// token.
bool SignAttributes(PKCS7_SIGNER_INFO *si, const SigningIdentity &id, std::string &error) {
    if (id.Token) return SignAttributesOnToken(si, *id.Token, error);
    if (PKCS7_SIGNER_INFO_sign(si) == 1) return true;
    error = "signing failed: " + OpenSslReason();
    return false;
}

// SpcIndirectDataContent for a PE image: the image data with the fixed
// link, and the image digest with its algorithm.
der::Bytes IndirectData(const std::vector<uint8_t> &digest) {
    using namespace der;
    const Bytes link = Tlv(Constructed(0), Tlv(Constructed(2), Tlv(Primitive(0), Bmp(oid::kObsoleteLink))));
    const Bytes imageData = Tlv(kSequence, Cat({Tlv(kBitString, {0}), link}));
    const Bytes data = Tlv(kSequence, Cat({Oid(oid::kSpcPeImageData), imageData}));
    return Tlv(kSequence, Cat({data, Sha256DigestInfo(digest)}));
}

int AttributeNid(const char *dotted, const char *name) {
    int nid = OBJ_txt2nid(dotted);
    return nid != NID_undef ? nid : OBJ_create(dotted, name, name);
}

// The signed attributes: content type, an empty publisher statement, the
// signing time, and the digest of the indirect data's content octets (its
// DER without the outer tag and length).
bool AddSignedAttributes(PKCS7_SIGNER_INFO *si, const der::Bytes &indirect, time_t when) {
    der::Element whole;
    if (!der::Read(indirect.data(), indirect.size(), whole)) return false;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestLength = 0;
    if (!EVP_Digest(whole.Content, whole.Length, digest, &digestLength, EVP_sha256(), nullptr))
        return false;
    ASN1_STRING *opus = ASN1_STRING_new();
    const unsigned char emptySequence[] = {der::kSequence, 0};
    ASN1_STRING_set(opus, emptySequence, sizeof emptySequence);
    return PKCS7_add_signed_attribute(si, NID_pkcs9_contentType, V_ASN1_OBJECT,
                                      OBJ_txt2obj(oid::kSpcIndirectData, 1)) &&
           PKCS7_add_signed_attribute(si, AttributeNid(oid::kSpcSpOpusInfo, "spcSpOpusInfo"),
                                      V_ASN1_SEQUENCE, opus) &&
           PKCS7_add0_attrib_signing_time(si, ASN1_TIME_set(nullptr, when)) &&
           PKCS7_add1_attrib_digest(si, digest, int(digestLength));
}

// content: the indirect data as the SignedData's content of its own type.
bool SetIndirectContent(PKCS7 *p7, const der::Bytes &indirect) {
    Pkcs7Ptr inner(PKCS7_new());
    ASN1_TYPE *other = ASN1_TYPE_new();
    ASN1_STRING *sequence = ASN1_STRING_new();
    if (!inner || !other || !sequence ||
        !ASN1_STRING_set(sequence, indirect.data(), int(indirect.size()))) {
        ASN1_TYPE_free(other);
        ASN1_STRING_free(sequence);
        return false;
    }
    ASN1_TYPE_set(other, V_ASN1_SEQUENCE, sequence);
    inner->type = OBJ_txt2obj(oid::kSpcIndirectData, 1);
    inner->d.other = other;
    if (!PKCS7_set_content(p7, inner.get())) return false;
    inner.release();
    return true;
}

}  // namespace

bool LoadCertificates(const std::string &path, SigningIdentity &out, std::string &error) {
    BioPtr certs = OpenFile("--sign-cert", path, error);
    if (!certs) return false;
    out.Cert.reset(PEM_read_bio_X509(certs.get(), nullptr, nullptr, nullptr));
    if (!out.Cert) {
        error = "--sign-cert " + path + ": not a PEM certificate (" + OpenSslReason() + ")";
        return false;
    }
    out.Chain.reset(sk_X509_new_null());
    while (X509 *more = PEM_read_bio_X509(certs.get(), nullptr, nullptr, nullptr))
        sk_X509_push(out.Chain.get(), more);
    ERR_clear_error();   // the end of the file reads as an error
    return true;
}

std::vector<uint8_t> Sha256DigestInfo(const std::vector<uint8_t> &digest) {
    using namespace der;
    const Bytes algorithm = Tlv(kSequence, Cat({Oid(oid::kSha256), Tlv(kNull, {})}));
    return Tlv(kSequence, Cat({algorithm, Tlv(kOctetString, digest)}));
}

bool SigningTime(time_t &out, std::string &error) {
    const char *epoch = std::getenv("SOURCE_DATE_EPOCH");
    out = std::time(nullptr);
    if (!epoch) return true;
    char *end = nullptr;
    const long long seconds = std::strtoll(epoch, &end, 10);
    if (*epoch == '\0' || *end != '\0' || seconds < 0) {
        error = std::string("SOURCE_DATE_EPOCH ") + epoch + ": not a count of seconds since 1970";
        return false;
    }
    out = time_t(seconds);
    return true;
}

bool LoadSigningIdentity(const SigningRequest &request, SigningIdentity &out, std::string &error) {
    out = SigningIdentity{};
    if (request.Pkcs11.empty() && !request.Pkcs11Module.empty()) {
        error = "--pkcs11-module applies only with --sign-pkcs11";
        return false;
    }
    if (!request.Pkcs11.empty())
        return LoadTokenIdentity(request, out, error) && CheckIdentity(out, request.Cert, error);
    const bool pkcs12 = !request.Pkcs12.empty();
    if (pkcs12 && (!request.Cert.empty() || !request.Key.empty())) {
        error = "give either --sign-pkcs12 or --sign-cert with --sign-key, not both";
        return false;
    }
    if (!(pkcs12 ? LoadPkcs12(request, out, error) : LoadPem(request, out, error))) return false;
    return CheckIdentity(out, pkcs12 ? request.Pkcs12 : request.Cert, error);
}

bool SignPeImage(std::vector<uint8_t> &file, const SigningIdentity &id,
                 const std::string &timestampUrl, std::string &error) {
    SignatureSpan span;
    if (!LocateSignature(file, span, error)) return false;
    if (span.HasTable()) {
        error = "the image holds a certificate table already";
        return false;
    }
    // Room for the padding and the table, so that appending them does not
    // copy the whole package once more.
    file.reserve(file.size() + kTableReserve);
    time_t when = 0;
    if (!SigningTime(when, error)) return false;
    PadForCertificateTable(file);
    uint64_t wordSum = 0;
    const der::Bytes indirect = IndirectData(ImageDigest(file, span, EVP_sha256(), &wordSum));

    Pkcs7Ptr p7(PKCS7_new());
    PKCS7_SIGNER_INFO *si = nullptr;
    bool ok = p7 && PKCS7_set_type(p7.get(), NID_pkcs7_signed) &&
              (si = PKCS7_add_signature(p7.get(), id.Cert.get(), id.Key.get(), EVP_sha256())) &&
              PKCS7_add_certificate(p7.get(), id.Cert.get());
    for (int i = 0; ok && i < sk_X509_num(id.Chain.get()); ++i)
        ok = PKCS7_add_certificate(p7.get(), sk_X509_value(id.Chain.get(), i));
    ok = ok && AddSignedAttributes(si, indirect, when);
    if (!ok) {
        error = "signing failed: " + OpenSslReason();
        return false;
    }
    if (!SignAttributes(si, id, error)) return false;
    if (!SetIndirectContent(p7.get(), indirect)) {
        error = "signing failed: " + OpenSslReason();
        return false;
    }
    if (!timestampUrl.empty() && !AddTimestamp(si, timestampUrl, error)) return false;
    const int length = i2d_PKCS7(p7.get(), nullptr);
    std::vector<uint8_t> der(size_t(length > 0 ? length : 0));
    unsigned char *at = der.data();
    if (length <= 0 || i2d_PKCS7(p7.get(), &at) != length) {
        error = "signing failed: cannot encode the signature: " + OpenSslReason();
        return false;
    }
    AttachCertificateTable(file, span, der, wordSum);
    return true;
}

}  // namespace fwpack
