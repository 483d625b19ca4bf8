// Owning handles for the libcrypto objects the signature code uses, and the
// library's last error as one line.
#pragma once
#include <openssl/evp.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <memory>
#include <string>

namespace fwpack {

template <class T, void (*Free)(T *)>
struct OpenSslFree {
    void operator()(T *p) const { Free(p); }
};
using BioPtr = std::unique_ptr<BIO, OpenSslFree<BIO, BIO_free_all>>;
using X509Ptr = std::unique_ptr<X509, OpenSslFree<X509, X509_free>>;
using KeyPtr = std::unique_ptr<EVP_PKEY, OpenSslFree<EVP_PKEY, EVP_PKEY_free>>;
using Pkcs7Ptr = std::unique_ptr<PKCS7, OpenSslFree<PKCS7, PKCS7_free>>;
using MdCtxPtr = std::unique_ptr<EVP_MD_CTX, OpenSslFree<EVP_MD_CTX, EVP_MD_CTX_free>>;
using StorePtr = std::unique_ptr<X509_STORE, OpenSslFree<X509_STORE, X509_STORE_free>>;
using StoreCtxPtr = std::unique_ptr<X509_STORE_CTX, OpenSslFree<X509_STORE_CTX, X509_STORE_CTX_free>>;
void FreeX509Stack(STACK_OF(X509) *s);
using X509StackPtr = std::unique_ptr<STACK_OF(X509), OpenSslFree<STACK_OF(X509), FreeX509Stack>>;

// The reason of the oldest error libcrypto queued ("bad decrypt"), or
// fallback when there is none; the queue is emptied.
std::string OpenSslReason(const std::string &fallback = "unknown error");

// A certificate's name on one line, "CN=Example Signer,O=Example".
std::string NameLine(const X509_NAME *name);
// An ASN.1 time as "2026-12-07T13:08:36Z"; "" when unreadable.
std::string TimeLine(const ASN1_TIME *t);

}  // namespace fwpack
