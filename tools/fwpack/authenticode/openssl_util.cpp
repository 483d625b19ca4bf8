#include "tools/fwpack/authenticode/openssl_util.h"

#include <openssl/err.h>

#include <cstdio>
#include <ctime>

namespace fwpack {

void FreeX509Stack(STACK_OF(X509) *s) { sk_X509_pop_free(s, X509_free); }

std::string OpenSslReason(const std::string &fallback) {
    unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) return fallback;
    const char *reason = ERR_reason_error_string(code);
    return reason ? reason : fallback;
}

std::string NameLine(const X509_NAME *name) {
    BioPtr bio(BIO_new(BIO_s_mem()));
    // Most specific first ("CN=...,O=..."), one line, UTF-8 kept.
    if (!bio || X509_NAME_print_ex(bio.get(), name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB) < 0)
        return "";
    char *data = nullptr;
    long n = BIO_get_mem_data(bio.get(), &data);
    std::string line(data, size_t(n > 0 ? n : 0));
    for (char &c : line)
        if (c == '\n' || c == '\r') c = ' ';
    return line;
}

std::string TimeLine(const ASN1_TIME *t) {
    struct tm tm {};
    if (!t || ASN1_TIME_to_tm(t, &tm) != 1) return "";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02dZ", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return buf;
}

}  // namespace fwpack
