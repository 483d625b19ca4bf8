#include "tools/fwpack/authenticode/read.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <algorithm>

#include "platform/builder_files.h"
#include "tools/fwpack/authenticode/image.h"
#include "tools/fwpack/authenticode/names.h"
#include "tools/fwpack/authenticode/timestamp.h"
#include "tools/fwpack/authenticode/der.h"
#include "tools/fwpack/authenticode/openssl_util.h"

namespace fwpack {
namespace {

std::string HexBytes(const uint8_t *p, size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < n; ++i) {
        out += digits[p[i] >> 4];
        out += digits[p[i] & 15];
    }
    return out;
}

class Checker {
  public:
    explicit Checker(SignatureReport &r, std::string prefix = "signature: ") : r_(r), prefix_(std::move(prefix)) {}
    bool Fail(const std::string &problem) {
        r_.Problems.push_back(prefix_ + problem);
        return false;
    }

  private:
    SignatureReport &r_;
    std::string prefix_;
};

std::string Hex16(uint16_t v) {
    static const char digits[] = "0123456789abcdef";
    return std::string("0x") + digits[v >> 12] + digits[(v >> 8) & 15] + digits[(v >> 4) & 15] + digits[v & 15];
}

// Whether the entry holds the DER and nothing after it but the zeros that
// pad it to the table's alignment: bytes there are covered by no digest.
bool OnlyPaddingAfter(const WinCertificate &e, size_t derLength, Checker &c) {
    const size_t rest = e.Length - derLength;
    if (rest < kWinCertAlignment && std::all_of(e.Data + derLength, e.Data + e.Length, [](uint8_t b) { return b == 0; }))
        return true;
    return c.Fail(std::to_string(rest) + " bytes follow the signature inside its certificate table entry (" +
                  std::to_string(derLength) + " bytes of DER)");
}

// The SignedData of the table's one entry: revision 2.0, PKCS#7.
Pkcs7Ptr ReadSignedData(const std::vector<uint8_t> &file, const SignatureSpan &span, Checker &c) {
    std::vector<WinCertificate> entries;
    std::string error;
    if (!ReadCertificateTable(file, span, entries, error)) return c.Fail(error), nullptr;
    if (entries.empty()) return c.Fail("the certificate table holds no entry"), nullptr;
    if (entries.size() > 1)
        c.Fail("the certificate table holds " + std::to_string(entries.size()) + " entries; only one is signed");
    const WinCertificate &e = entries[0];
    if (e.Revision != kWinCertRevision || e.Type != kWinCertTypePkcs7)
        return c.Fail("the certificate table entry has revision " + Hex16(e.Revision) + " and type " +
                      Hex16(e.Type) + "; only revision 0x0200, type 0x0002 (PKCS#7) is read"),
               nullptr;
    const unsigned char *p = e.Data;
    Pkcs7Ptr p7(d2i_PKCS7(nullptr, &p, long(e.Length)));
    if (!p7) return c.Fail("the certificate table entry is not PKCS#7 (" + OpenSslReason() + ")"), nullptr;
    OnlyPaddingAfter(e, size_t(p - e.Data), c);
    return p7;
}

bool IsSignedData(PKCS7 *p7, Checker &c) {
    if (p7 && PKCS7_type_is_signed(p7) && p7->d.sign && p7->d.sign->contents) return true;
    return c.Fail("the PKCS#7 structure is not SignedData with content");
}

// The signatures other signers nest in the first one's unsigned
// attributes, one per value; an unreadable one is kept as null.
std::vector<Pkcs7Ptr> NestedSignatures(PKCS7 *p7) {
    std::vector<Pkcs7Ptr> out;
    STACK_OF(PKCS7_SIGNER_INFO) *infos = PKCS7_get_signer_info(p7);
    if (!infos || sk_PKCS7_SIGNER_INFO_num(infos) == 0) return out;
    const STACK_OF(X509_ATTRIBUTE) *attrs = sk_PKCS7_SIGNER_INFO_value(infos, 0)->unauth_attr;
    ASN1_OBJECT *nested = OBJ_txt2obj(oid::kSpcNestedSignature, 1);
    for (int i = -1; nested && (i = X509at_get_attr_by_OBJ(attrs, nested, i)) >= 0;) {
        X509_ATTRIBUTE *attr = X509at_get_attr(attrs, i);
        for (int j = 0; j < X509_ATTRIBUTE_count(attr); ++j) {
            const ASN1_TYPE *t = X509_ATTRIBUTE_get0_type(attr, j);
            const unsigned char *p = t->type == V_ASN1_SEQUENCE ? ASN1_STRING_get0_data(t->value.sequence) : nullptr;
            out.emplace_back(p ? d2i_PKCS7(nullptr, &p, ASN1_STRING_length(t->value.sequence)) : nullptr);
        }
    }
    ASN1_OBJECT_free(nested);
    ERR_clear_error();
    return out;
}

// The signed content: the indirect data's DER, when the content is of that type.
bool IndirectData(PKCS7 *p7, der::Element &out, Checker &c) {
    PKCS7 *content = p7->d.sign->contents;
    char type[80] = "";
    OBJ_obj2txt(type, sizeof type, content->type, 1);
    if (std::string(type) != oid::kSpcIndirectData || !content->d.other ||
        content->d.other->type != V_ASN1_SEQUENCE)
        return c.Fail(std::string("the signed content is of type ") + type + ", not a PE image's");
    const ASN1_STRING *s = content->d.other->value.sequence;
    if (!der::Read(ASN1_STRING_get0_data(s), size_t(ASN1_STRING_length(s)), out) ||
        out.Tag != der::kSequence)
        return c.Fail("the signed content is not a DER SEQUENCE");
    return true;
}

// The image digest algorithm named by oidText, when it is one strong
// enough to rely on: SHA-256, SHA-384 or SHA-512.
const EVP_MD *ImageDigestAlgorithm(const std::string &oidText, Checker &c) {
    const int nid = OBJ_txt2nid(oidText.c_str());
    if (nid == NID_sha256) return EVP_sha256();
    if (nid == NID_sha384) return EVP_sha384();
    if (nid == NID_sha512) return EVP_sha512();
    if (nid == NID_md5 || nid == NID_sha1)
        return c.Fail(std::string("the image digest is ") + OBJ_nid2sn(nid) +
                      ", too weak to rely on; sign with SHA-256, SHA-384 or SHA-512"),
               nullptr;
    return c.Fail("image digest algorithm " + oidText + " is not SHA-256, SHA-384 or SHA-512"), nullptr;
}

// The image data's type, the digest algorithm and the signed digest.
bool SignedDigest(const der::Element &indirect, SignatureReport &r, const EVP_MD *&md, Checker &c) {
    der::Reader top(indirect);
    der::Element data, digestInfo, algorithm, digest, dataType, algorithmOid;
    if (!top.Next(der::kSequence, data) || !top.Next(der::kSequence, digestInfo) ||
        !der::Reader(data).Next(der::kOid, dataType))
        return c.Fail("the signed content is not indirect data");
    der::Reader info(digestInfo);
    if (!info.Next(der::kSequence, algorithm) || !info.Next(der::kOctetString, digest) ||
        !der::Reader(algorithm).Next(der::kOid, algorithmOid))
        return c.Fail("the signed content holds no digest");
    if (der::OidText(dataType.Content, dataType.Length) != oid::kSpcPeImageData)
        return c.Fail("the signed content does not describe a PE image");
    const std::string algorithmText = der::OidText(algorithmOid.Content, algorithmOid.Length);
    r.SignedDigest = HexBytes(digest.Content, digest.Length);
    md = ImageDigestAlgorithm(algorithmText, c);
    if (!md) return false;
    r.DigestAlgorithm = OBJ_nid2ln(EVP_MD_get_type(md));
    if (size_t(EVP_MD_get_size(md)) != digest.Length)
        return c.Fail("the signed " + r.DigestAlgorithm + " digest is " + std::to_string(digest.Length) +
                      " bytes long, not " + std::to_string(EVP_MD_get_size(md)));
    return true;
}

void DescribeSigner(PKCS7 *p7, SignatureReport &r) {
    r.Certificates = size_t(sk_X509_num(p7->d.sign->cert));
    STACK_OF(X509) *signers = PKCS7_get0_signers(p7, nullptr, 0);
    if (signers && sk_X509_num(signers) > 0) {
        X509 *signer = sk_X509_value(signers, 0);
        r.Subject = NameLine(X509_get_subject_name(signer));
        r.Issuer = NameLine(X509_get_issuer_name(signer));
        r.NotBefore = TimeLine(X509_get0_notBefore(signer));
        r.NotAfter = TimeLine(X509_get0_notAfter(signer));
    }
    sk_X509_free(signers);
    ERR_clear_error();
}

bool VerifySignature(PKCS7 *p7, const der::Element &indirect, Checker &c) {
    // Read through a buffering filter: handed a memory BIO itself,
    // PKCS7_verify makes a copy that it loses when the structure is bad.
    BioPtr content(BIO_new(BIO_f_buffer()));
    BIO *memory = BIO_new_mem_buf(indirect.Content, int(indirect.Length));
    if (!content || !memory) {
        BIO_free(memory);
        return c.Fail("cannot verify: out of memory");
    }
    BIO_push(content.get(), memory);
    if (PKCS7_verify(p7, nullptr, nullptr, content.get(), nullptr, PKCS7_NOVERIFY) == 1) return true;
    return c.Fail("does not verify against its signer's certificate (" + OpenSslReason() + ")");
}

// The root certificates of trustFile; null after a problem when it
// cannot be read.
StorePtr LoadRoots(const std::string &trustFile, Checker &c) {
    // Read as every other input is: a FIFO is refused, not waited on.
    std::vector<uint8_t> bytes;
    std::string error;
    if (!ReadWholeFile(trustFile, bytes, error)) return c.Fail("--trust: " + error), nullptr;
    StorePtr store(X509_STORE_new());
    BioPtr pem(BIO_new_mem_buf(bytes.data(), int(bytes.size())));
    size_t added = 0;
    while (X509 *cert = store && pem ? PEM_read_bio_X509(pem.get(), nullptr, nullptr, nullptr) : nullptr) {
        added += X509_STORE_add_cert(store.get(), cert) == 1;
        X509_free(cert);
    }
    ERR_clear_error();
    if (!added) return c.Fail("--trust " + trustFile + ": holds no PEM certificate"), nullptr;
    return store;
}

// The chain from the signer to a root of the store, at the time-stamp's
// time when the time-stamp is one to rely on, else now.
bool CheckTrust(PKCS7 *p7, X509_STORE *store, const std::string &trustFile, const TimestampReport &ts,
                Checker &c) {
    STACK_OF(X509) *signers = PKCS7_get0_signers(p7, nullptr, 0);
    X509 *signer = signers && sk_X509_num(signers) > 0 ? sk_X509_value(signers, 0) : nullptr;
    sk_X509_free(signers);
    if (!signer) return c.Fail("no signer certificate to check against " + trustFile);
    StoreCtxPtr ctx(X509_STORE_CTX_new());
    if (!ctx || !X509_STORE_CTX_init(ctx.get(), store, signer, p7->d.sign->cert))
        return c.Fail("cannot check the chain (" + OpenSslReason() + ")");
    X509_STORE_CTX_set_purpose(ctx.get(), X509_PURPOSE_ANY);
    // A certificate the user names is trusted as it stands, root or not.
    X509_STORE_CTX_set_flags(ctx.get(), X509_V_FLAG_PARTIAL_CHAIN);
    if (ts.Used && ts.When) X509_VERIFY_PARAM_set_time(X509_STORE_CTX_get0_param(ctx.get()), ts.When);
    if (X509_verify_cert(ctx.get()) != 1) {
        const int code = X509_STORE_CTX_get_error(ctx.get());
        ERR_clear_error();
        return c.Fail("the certificate chain does not lead to a root in " + trustFile + " (" +
                      X509_verify_cert_error_string(code) + ")");
    }
    const bool limited = X509_get_extension_flags(signer) & EXFLAG_XKUSAGE;
    if (limited && !(X509_get_extended_key_usage(signer) & XKU_CODE_SIGN))
        return c.Fail("the signer's certificate is not for code signing");
    return true;
}

// One signature over the file: what it says and whether it holds, into r.
void CheckSignature(const std::vector<uint8_t> &file, const SignatureSpan &span, PKCS7 *p7,
                    X509_STORE *roots, const std::string &trustFile, SignatureReport &r, Checker &c) {
    der::Element indirect;
    const EVP_MD *md = nullptr;
    if (!IsSignedData(p7, c) || !IndirectData(p7, indirect, c) || !SignedDigest(indirect, r, md, c)) return;
    r.Readable = true;
    DescribeSigner(p7, r);

    const std::vector<uint8_t> digest = ImageDigest(file, span, md);
    r.FileDigest = HexBytes(digest.data(), digest.size());
    r.DigestMatches = r.FileDigest == r.SignedDigest;
    if (!r.DigestMatches)
        c.Fail("the file's " + r.DigestAlgorithm + " digest " + r.FileDigest +
               " differs from the signed digest " + r.SignedDigest + ": the file changed after signing");
    r.SignatureVerifies = VerifySignature(p7, indirect, c);

    STACK_OF(PKCS7_SIGNER_INFO) *infos = PKCS7_get_signer_info(p7);
    if (infos && sk_PKCS7_SIGNER_INFO_num(infos) > 0) {
        r.Timestamp = ReadTimestamp(sk_PKCS7_SIGNER_INFO_value(infos, 0), roots);
        if (!r.Timestamp.Problem.empty()) c.Fail(r.Timestamp.Problem);
    }
    if (!trustFile.empty()) {
        r.TrustChecked = true;
        r.Trusted = roots && CheckTrust(p7, roots, trustFile, r.Timestamp, c);
    }
}

}  // namespace

SignatureReport ReadSignature(const std::vector<uint8_t> &file, const std::string &trustFile) {
    SignatureReport r;
    Checker c(r);
    SignatureSpan span;
    if (!FindSignatureTable(file, span, r)) return r;
    Pkcs7Ptr p7 = ReadSignedData(file, span, c);
    if (!p7) return r;
    StorePtr roots = trustFile.empty() ? nullptr : LoadRoots(trustFile, c);
    CheckSignature(file, span, p7.get(), roots.get(), trustFile, r, c);
    if (!r.Readable) return r;
    // A nested signature is held to the same rules: a weak or broken one
    // is a problem of the package, not something to pass over.
    for (Pkcs7Ptr &nested : NestedSignatures(p7.get())) {
        SignatureReport n;
        Checker nc(n, "signature: nested " + std::to_string(r.Nested.size() + 1) + ": ");
        CheckSignature(file, span, nested.get(), roots.get(), trustFile, n, nc);
        r.Problems.insert(r.Problems.end(), n.Problems.begin(), n.Problems.end());
        r.Nested.push_back(std::move(n));
    }
    return r;
}

}  // namespace fwpack
