// Time-stamping a signature at an RFC 3161 time-stamp authority over HTTP,
// and reading the time-stamp back. A time-stamp keeps a signature valid
// after its certificate expires; without one it expires with it.
#pragma once
#include <openssl/pkcs7.h>

#include <string>

#include "tools/fwpack/authenticode/signature_report.h"

namespace fwpack {

// Asks the authority at url (http://) to time-stamp the signer's signature
// value and adds its token as an unsigned attribute. False with one line
// when the authority cannot be reached or answers with anything but a
// granted token over that signature.
bool AddTimestamp(PKCS7_SIGNER_INFO *si, const std::string &url, std::string &error);

// The signer info's time-stamp. roots: the trusted root certificates its
// authority must chain to before its time is used; null when none were
// given, and then the token is read but never used.
TimestampReport ReadTimestamp(PKCS7_SIGNER_INFO *si, X509_STORE *roots);

}  // namespace fwpack
