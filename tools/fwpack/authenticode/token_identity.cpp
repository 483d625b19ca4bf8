#include "tools/fwpack/authenticode/token_identity.h"

#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/param_build.h>

#include "tools/fwpack/authenticode/sign.h"

namespace fwpack {
namespace {

bool OpenUri(const std::string &option, const std::string &text, Pkcs11Uri &uri, std::string &error) {
    if (ParsePkcs11Uri(text, uri, error)) return true;
    error = option + " " + text + ": " + error;
    return false;
}

// The certificate object the URI names, read from the token without a login.
bool CertificateFromToken(const SigningRequest &r, SigningIdentity &out, std::string &error) {
    Pkcs11Uri uri;
    if (!OpenUri("--sign-cert", r.Cert, uri, error)) return false;
    std::unique_ptr<TokenSession> token = TokenSession::Open(uri, r.Pkcs11Module, false, error);
    ck::ObjectHandle object = 0;
    std::vector<uint8_t> der;
    if (token && token->FindObject(uri, ck::kClassCertificate, object, error) &&
        !token->Attribute(object, ck::kAttrValue, der))
        error = "the certificate on " + token->Where() + " gives no value";
    const unsigned char *at = der.data();
    if (!der.empty()) out.Cert.reset(d2i_X509(nullptr, &at, long(der.size())));
    if (!der.empty() && !out.Cert) error = "the certificate on " + token->Where() + " is not X.509";
    if (!out.Cert) {
        error = "--sign-cert " + r.Cert + ": " + error;
        return false;
    }
    out.Chain.reset(sk_X509_new_null());
    return true;
}

// The public half of an RSA key from its modulus and exponent.
KeyPtr RsaPublicKey(const std::vector<uint8_t> &n, const std::vector<uint8_t> &e) {
    std::unique_ptr<BIGNUM, OpenSslFree<BIGNUM, BN_free>> bn(BN_bin2bn(n.data(), int(n.size()), nullptr)),
        be(BN_bin2bn(e.data(), int(e.size()), nullptr));
    std::unique_ptr<OSSL_PARAM_BLD, OpenSslFree<OSSL_PARAM_BLD, OSSL_PARAM_BLD_free>> build(OSSL_PARAM_BLD_new());
    if (!bn || !be || !build || !OSSL_PARAM_BLD_push_BN(build.get(), OSSL_PKEY_PARAM_RSA_N, bn.get()) ||
        !OSSL_PARAM_BLD_push_BN(build.get(), OSSL_PKEY_PARAM_RSA_E, be.get()))
        return nullptr;
    std::unique_ptr<OSSL_PARAM, OpenSslFree<OSSL_PARAM, OSSL_PARAM_free>> params(OSSL_PARAM_BLD_to_param(build.get()));
    std::unique_ptr<EVP_PKEY_CTX, OpenSslFree<EVP_PKEY_CTX, EVP_PKEY_CTX_free>> ctx(
        EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
    EVP_PKEY *key = nullptr;
    if (!params || !ctx || EVP_PKEY_fromdata_init(ctx.get()) <= 0 ||
        EVP_PKEY_fromdata(ctx.get(), &key, EVP_PKEY_PUBLIC_KEY, params.get()) <= 0)
        return nullptr;
    return KeyPtr(key);
}

bool KeyFromToken(const SigningRequest &r, SigningIdentity &out, std::string &error) {
    Pkcs11Uri uri;
    if (!OpenUri("--sign-pkcs11", r.Pkcs11, uri, error)) return false;
    if (!uri.Type.empty() && uri.Type != "private") {
        error = "--sign-pkcs11 " + r.Pkcs11 + ": names a " + uri.Type + " object; the signer is a private key";
        return false;
    }
    auto token = std::make_shared<TokenKey>();
    token->Session = TokenSession::Open(uri, r.Pkcs11Module, true, error);
    std::vector<uint8_t> type, n, e;
    if (!token->Session || !token->Session->FindObject(uri, ck::kClassPrivateKey, token->Key, error)) {
        error = "--sign-pkcs11 " + r.Pkcs11 + ": " + error;
        return false;
    }
    const std::string where = token->Session->Where();
    const bool rsa = token->Session->Attribute(token->Key, ck::kAttrKeyType, type) &&
                     type.size() == sizeof(ck::Ulong) &&
                     *reinterpret_cast<const ck::Ulong *>(type.data()) == ck::kKeyRsa;
    if (!rsa || !token->Session->Attribute(token->Key, ck::kAttrModulus, n) ||
        !token->Session->Attribute(token->Key, ck::kAttrPublicExponent, e) || !(out.Key = RsaPublicKey(n, e))) {
        error = "--sign-pkcs11 " + r.Pkcs11 + ": the key on " + where +
                (rsa ? " does not give its modulus and exponent" : " is not an RSA key (only RSA keys sign on a token)");
        ERR_clear_error();
        return false;
    }
    out.Token = std::move(token);
    return true;
}

}  // namespace

bool LoadTokenIdentity(const SigningRequest &r, SigningIdentity &out, std::string &error) {
    if (r.Cert.empty() || !r.Key.empty() || !r.Pkcs12.empty()) {
        error = "--sign-pkcs11 takes --sign-cert (a PEM file or a pkcs11: URI), "
                "not --sign-key or --sign-pkcs12";
        return false;
    }
    // The certificate's session ends before the key's begins: a module is
    // started once per process.
    const bool certOk = IsPkcs11Uri(r.Cert) ? CertificateFromToken(r, out, error)
                                            : LoadCertificates(r.Cert, out, error);
    return certOk && KeyFromToken(r, out, error);
}

bool SignAttributesOnToken(PKCS7_SIGNER_INFO *si, TokenKey &key, std::string &error) {
    unsigned char *attributes = nullptr;
    const int length = ASN1_item_i2d(reinterpret_cast<ASN1_VALUE *>(si->auth_attr), &attributes,
                                     ASN1_ITEM_rptr(PKCS7_ATTR_SIGN));
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestLength = 0;
    const bool hashed = length > 0 && EVP_Digest(attributes, size_t(length), digest, &digestLength,
                                                 EVP_sha256(), nullptr);
    OPENSSL_free(attributes);
    if (!hashed) {
        error = "signing failed: " + OpenSslReason();
        return false;
    }
    std::vector<uint8_t> signature;
    if (!key.Session->SignRsa(key.Key, Sha256DigestInfo({digest, digest + digestLength}), signature, error))
        return false;
    return ASN1_OCTET_STRING_set(si->enc_digest, signature.data(), int(signature.size())) == 1;
}

}  // namespace fwpack
