// Reading a package's code signature without trusting a byte of it: the
// certificate table, the PKCS#7 SignedData in it, the signed image digest
// beside one computed afresh, the signature checked against the signer's
// own certificate and, when asked, the certificate chain to a given root.
// Independent of whatever made the signature. A build without OpenSSL
// (fwpack.exe) only finds the certificate table and says that it did not
// read it.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "tools/fwpack/authenticode/signature_report.h"

namespace fwpack {

// trustFile: PEM root certificate(s) the chain must lead to; "" checks no
// chain. A timestamped signature's chain is checked at its time-stamp.
SignatureReport ReadSignature(const std::vector<uint8_t> &file, const std::string &trustFile = "");

}  // namespace fwpack
