#include "tools/fwpack/authenticode/timestamp.h"

#include <openssl/err.h>
#include <openssl/http.h>
#include <openssl/ts.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <vector>

#include "tools/fwpack/authenticode/names.h"
#include "tools/fwpack/authenticode/openssl_util.h"

namespace fwpack {
namespace {

constexpr int kTimeoutSeconds = 30;

int TimestampNid() {
    int nid = OBJ_txt2nid(oid::kRfc3161Timestamp);
    return nid != NID_undef ? nid : OBJ_create(oid::kRfc3161Timestamp, "spcRfc3161Timestamp",
                                               "RFC 3161 time-stamp");
}

// What a time-stamp covers: the digest of the signature value. Ours asks
// for SHA-256; a token from another signer may use another digest.
std::vector<unsigned char> SignatureImprint(PKCS7_SIGNER_INFO *si, const EVP_MD *md = EVP_sha256()) {
    std::vector<unsigned char> digest(size_t(EVP_MD_get_size(md)));
    unsigned int n = 0;
    const ASN1_OCTET_STRING *value = si->enc_digest;
    EVP_Digest(ASN1_STRING_get0_data(value), size_t(ASN1_STRING_length(value)), digest.data(), &n,
               md, nullptr);
    return digest;
}

using TsReqPtr = std::unique_ptr<TS_REQ, OpenSslFree<TS_REQ, TS_REQ_free>>;
using TsRespPtr = std::unique_ptr<TS_RESP, OpenSslFree<TS_RESP, TS_RESP_free>>;

TsReqPtr Request(const std::vector<unsigned char> &imprint) {
    TsReqPtr req(TS_REQ_new());
    std::unique_ptr<TS_MSG_IMPRINT, OpenSslFree<TS_MSG_IMPRINT, TS_MSG_IMPRINT_free>> mi(TS_MSG_IMPRINT_new());
    std::unique_ptr<X509_ALGOR, OpenSslFree<X509_ALGOR, X509_ALGOR_free>> alg(X509_ALGOR_new());
    if (!req || !mi || !alg) return nullptr;
    X509_ALGOR_set0(alg.get(), OBJ_nid2obj(NID_sha256), V_ASN1_NULL, nullptr);
    if (!TS_MSG_IMPRINT_set_algo(mi.get(), alg.get()) ||
        !TS_MSG_IMPRINT_set_msg(mi.get(), const_cast<unsigned char *>(imprint.data()), int(imprint.size())) ||
        !TS_REQ_set_version(req.get(), 1) || !TS_REQ_set_msg_imprint(req.get(), mi.get()) ||
        !TS_REQ_set_cert_req(req.get(), 1))
        return nullptr;
    return req;
}

// host, port and path of an http:// URL; false for anything else.
bool SplitHttpUrl(const std::string &url, std::string &host, std::string &port, std::string &path) {
    char *h = nullptr, *p = nullptr, *pa = nullptr;
    int tls = 0;
    const bool ok = OSSL_HTTP_parse_url(url.c_str(), &tls, nullptr, &h, &p, nullptr, &pa, nullptr,
                                        nullptr) == 1 && !tls;
    if (ok) host = h, port = p, path = pa;
    OPENSSL_free(h), OPENSSL_free(p), OPENSSL_free(pa);
    ERR_clear_error();
    return ok;
}

// A connection to the authority, tried once: a refused connection fails
// at once rather than being retried until the timeout. Non-blocking, so
// that the transfer keeps its timeout.
BioPtr Connect(const std::string &host, const std::string &port, time_t deadline) {
    BioPtr bio(BIO_new_connect(host.c_str()));
    if (!bio || BIO_set_conn_port(bio.get(), port.c_str()) != 1) return nullptr;
    BIO_set_nbio(bio.get(), 1);
    while (BIO_do_connect(bio.get()) <= 0)
        if (!BIO_should_retry(bio.get()) || BIO_wait(bio.get(), deadline, 100) <= 0) return nullptr;
    return bio;
}

TsRespPtr Post(const std::string &url, TS_REQ *req, std::string &error) {
    std::string host, port, path;
    if (!SplitHttpUrl(url, host, port, path)) {
        error = "--timestamp-url " + url + ": give an http:// URL of a time-stamp authority";
        return nullptr;
    }
    BioPtr body(BIO_new(BIO_s_mem()));
    if (!body || i2d_TS_REQ_bio(body.get(), req) != 1) {
        error = "cannot encode the time-stamp request: " + OpenSslReason();
        return nullptr;
    }
    BioPtr connection = Connect(host, port, time(nullptr) + kTimeoutSeconds);
    if (!connection) {
        error = "time-stamp authority " + url + ": cannot connect (" + OpenSslReason("refused, or no answer in time") + ")";
        return nullptr;
    }
    BioPtr reply(OSSL_HTTP_transfer(nullptr, host.c_str(), port.c_str(), path.c_str(), 0, nullptr,
                                    nullptr, connection.get(), connection.get(), nullptr, nullptr, 0, nullptr,
                                    "application/timestamp-query", body.get(),
                                    "application/timestamp-reply", 1, 0, kTimeoutSeconds, 0));
    TsRespPtr resp(reply ? d2i_TS_RESP_bio(reply.get(), nullptr) : nullptr);
    if (!resp) error = "time-stamp authority " + url + ": no time-stamp (" + OpenSslReason() + ")";
    return resp;
}

bool ImprintIs(TS_TST_INFO *info, const std::vector<unsigned char> &expected) {
    const ASN1_OCTET_STRING *msg = TS_MSG_IMPRINT_get_msg(TS_TST_INFO_get_msg_imprint(info));
    return size_t(ASN1_STRING_length(msg)) == expected.size() &&
           std::equal(expected.begin(), expected.end(), ASN1_STRING_get0_data(msg));
}

using TstInfoPtr = std::unique_ptr<TS_TST_INFO, OpenSslFree<TS_TST_INFO, TS_TST_INFO_free>>;

// The token in the attribute and what it says; null with r.Problem set
// when it is not a token.
TstInfoPtr ReadToken(const ASN1_TYPE *attr, Pkcs7Ptr &token, TimestampReport &r) {
    if (attr->type != V_ASN1_SEQUENCE) {
        r.Problem = r.NotUsed = "the time-stamp is not a token";
        return nullptr;
    }
    const unsigned char *p = ASN1_STRING_get0_data(attr->value.sequence);
    token.reset(d2i_PKCS7(nullptr, &p, ASN1_STRING_length(attr->value.sequence)));
    TstInfoPtr info(token ? PKCS7_to_TS_TST_INFO(token.get()) : nullptr);
    if (!info) r.Problem = r.NotUsed = "the time-stamp token cannot be read (" + OpenSslReason() + ")";
    return info;
}

// The certificate that signed the token, inside the token; null when none.
X509 *TokenSigner(PKCS7 *token) {
    STACK_OF(X509) *signers = PKCS7_get0_signers(token, nullptr, 0);
    X509 *signer = signers && sk_X509_num(signers) > 0 ? sk_X509_value(signers, 0) : nullptr;
    sk_X509_free(signers);
    ERR_clear_error();
    return signer;
}

// The token's imprint is the digest of this signature value, by a digest
// strong enough to stand for it.
bool ImprintCovers(TS_TST_INFO *info, PKCS7_SIGNER_INFO *si) {
    const X509_ALGOR *alg = TS_MSG_IMPRINT_get_algo(TS_TST_INFO_get_msg_imprint(info));
    const int nid = OBJ_obj2nid(alg->algorithm);
    if (nid != NID_sha256 && nid != NID_sha384 && nid != NID_sha512) return false;
    return ImprintIs(info, SignatureImprint(si, EVP_get_digestbynid(nid)));
}

// Why the token's authority cannot vouch for its time; "" when it can: a
// time-stamping certificate whose chain leads to a root of roots at the
// token's time.
std::string AuthorityDoubt(PKCS7 *token, X509 *authority, X509_STORE *roots, time_t when) {
    if (!authority) return "the token holds no certificate of its authority";
    const bool limited = X509_get_extension_flags(authority) & EXFLAG_XKUSAGE;
    if (!limited || !(X509_get_extended_key_usage(authority) & XKU_TIMESTAMP))
        return "its authority's certificate is not for time-stamping";
    StoreCtxPtr ctx(X509_STORE_CTX_new());
    if (!ctx || !X509_STORE_CTX_init(ctx.get(), roots, authority, token->d.sign->cert))
        return "its authority's chain cannot be checked (" + OpenSslReason() + ")";
    X509_STORE_CTX_set_purpose(ctx.get(), X509_PURPOSE_TIMESTAMP_SIGN);
    X509_STORE_CTX_set_flags(ctx.get(), X509_V_FLAG_PARTIAL_CHAIN);
    if (when) X509_VERIFY_PARAM_set_time(X509_STORE_CTX_get0_param(ctx.get()), when);
    if (X509_verify_cert(ctx.get()) == 1) return "";
    const int code = X509_STORE_CTX_get_error(ctx.get());
    ERR_clear_error();
    return std::string("its authority does not chain to a trusted root (") +
           X509_verify_cert_error_string(code) + ")";
}

}  // namespace

bool AddTimestamp(PKCS7_SIGNER_INFO *si, const std::string &url, std::string &error) {
    const std::vector<unsigned char> imprint = SignatureImprint(si);
    TsReqPtr req = Request(imprint);
    if (!req) {
        error = "cannot make a time-stamp request: " + OpenSslReason();
        return false;
    }
    TsRespPtr resp = Post(url, req.get(), error);
    if (!resp) return false;
    const long status = ASN1_INTEGER_get(TS_STATUS_INFO_get0_status(TS_RESP_get_status_info(resp.get())));
    TS_TST_INFO *info = TS_RESP_get_tst_info(resp.get());
    PKCS7 *token = TS_RESP_get_token(resp.get());
    if ((status != 0 && status != 1) || !info || !token || !ImprintIs(info, imprint)) {
        error = "time-stamp authority " + url + ": refused or answered for other data (status " +
                std::to_string(status) + ")";
        return false;
    }
    unsigned char *der = nullptr;
    const int length = i2d_PKCS7(token, &der);
    ASN1_STRING *value = ASN1_STRING_new();
    const bool ok = length > 0 && value && ASN1_STRING_set(value, der, length) &&
                    PKCS7_add_attribute(si, TimestampNid(), V_ASN1_SEQUENCE, value);
    OPENSSL_free(der);
    if (!ok) {
        ASN1_STRING_free(value);
        error = "cannot add the time-stamp: " + OpenSslReason();
    }
    return ok;
}

TimestampReport ReadTimestamp(PKCS7_SIGNER_INFO *si, X509_STORE *roots) {
    TimestampReport r;
    if (PKCS7_get_attribute(si, OBJ_txt2nid(oid::kCounterSignature))) {
        r.Present = true;
        r.NotUsed = "an older countersignature, which fwpack does not read";
        return r;
    }
    const ASN1_TYPE *attr = PKCS7_get_attribute(si, TimestampNid());
    if (!attr) return r;
    r.Present = r.Rfc3161 = true;
    Pkcs7Ptr token;
    TstInfoPtr info = ReadToken(attr, token, r);
    if (!info) return r;
    const ASN1_GENERALIZEDTIME *when = TS_TST_INFO_get_time(info.get());
    r.Time = TimeLine(when);
    // Seconds since 1970 through libcrypto: Windows has no timegm.
    int days = 0, seconds = 0;
    std::unique_ptr<ASN1_TIME, OpenSslFree<ASN1_TIME, ASN1_TIME_free>> epoch(ASN1_TIME_set(nullptr, 0));
    if (epoch && ASN1_TIME_diff(&days, &seconds, epoch.get(), when) == 1)
        r.When = time_t(days) * 86400 + seconds;
    X509 *authority = TokenSigner(token.get());
    if (authority) r.Authority = NameLine(X509_get_subject_name(authority));
    const bool signedByAuthority =
        PKCS7_verify(token.get(), nullptr, nullptr, nullptr, nullptr, PKCS7_NOVERIFY) == 1;
    ERR_clear_error();
    r.Matches = signedByAuthority && ImprintCovers(info.get(), si);
    if (!signedByAuthority)
        r.Problem = "the time-stamp token does not verify against its own certificate";
    else if (!r.Matches)
        r.Problem = "the time-stamp was made for a different signature";
    if (!r.Problem.empty())
        r.NotUsed = r.Problem;
    else if (!roots)
        r.NotUsed = "no trusted roots were given to check its authority against";
    else
        r.NotUsed = AuthorityDoubt(token.get(), authority, roots, r.When);
    r.Used = r.Matches && r.NotUsed.empty();
    return r;
}

}  // namespace fwpack
