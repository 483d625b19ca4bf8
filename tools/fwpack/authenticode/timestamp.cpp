#include "tools/fwpack/authenticode/timestamp.h"

#include <openssl/err.h>
#include <openssl/http.h>
#include <openssl/ts.h>
#include <openssl/x509.h>

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

// What a time-stamp covers: the SHA-256 of the signature value.
std::vector<unsigned char> SignatureImprint(PKCS7_SIGNER_INFO *si) {
    std::vector<unsigned char> digest(32);
    unsigned int n = 0;
    const ASN1_OCTET_STRING *value = si->enc_digest;
    EVP_Digest(ASN1_STRING_get0_data(value), size_t(ASN1_STRING_length(value)), digest.data(), &n,
               EVP_sha256(), nullptr);
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
    BioPtr reply(OSSL_HTTP_transfer(nullptr, host.c_str(), port.c_str(), path.c_str(), 0, nullptr,
                                    nullptr, nullptr, nullptr, nullptr, nullptr, 0, nullptr,
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

TimestampReport ReadTimestamp(PKCS7_SIGNER_INFO *si) {
    TimestampReport r;
    if (PKCS7_get_attribute(si, OBJ_txt2nid(oid::kCounterSignature))) {
        r.Present = true;
        return r;
    }
    const ASN1_TYPE *attr = PKCS7_get_attribute(si, TimestampNid());
    if (!attr) return r;
    r.Present = r.Rfc3161 = true;
    if (attr->type != V_ASN1_SEQUENCE) {
        r.Problem = "the time-stamp is not a token";
        return r;
    }
    const unsigned char *p = ASN1_STRING_get0_data(attr->value.sequence);
    Pkcs7Ptr token(d2i_PKCS7(nullptr, &p, ASN1_STRING_length(attr->value.sequence)));
    std::unique_ptr<TS_TST_INFO, OpenSslFree<TS_TST_INFO, TS_TST_INFO_free>> info(
        token ? PKCS7_to_TS_TST_INFO(token.get()) : nullptr);
    if (!info) {
        r.Problem = "the time-stamp token cannot be read (" + OpenSslReason() + ")";
        return r;
    }
    const ASN1_GENERALIZEDTIME *when = TS_TST_INFO_get_time(info.get());
    r.Time = TimeLine(when);
    // Seconds since 1970 through libcrypto: Windows has no timegm.
    int days = 0, seconds = 0;
    std::unique_ptr<ASN1_TIME, OpenSslFree<ASN1_TIME, ASN1_TIME_free>> epoch(ASN1_TIME_set(nullptr, 0));
    if (epoch && ASN1_TIME_diff(&days, &seconds, epoch.get(), when) == 1)
        r.When = time_t(days) * 86400 + seconds;
    if (STACK_OF(X509) *signers = PKCS7_get0_signers(token.get(), nullptr, 0)) {
        if (sk_X509_num(signers) > 0)
            r.Authority = NameLine(X509_get_subject_name(sk_X509_value(signers, 0)));
        sk_X509_free(signers);
    }
    const bool signedByAuthority =
        PKCS7_verify(token.get(), nullptr, nullptr, nullptr, nullptr, PKCS7_NOVERIFY) == 1;
    ERR_clear_error();
    r.Matches = signedByAuthority && ImprintIs(info.get(), SignatureImprint(si));
    if (!signedByAuthority)
        r.Problem = "the time-stamp token does not verify against its own certificate";
    else if (!r.Matches)
        r.Problem = "the time-stamp was made for a different signature";
    return r;
}

}  // namespace fwpack
