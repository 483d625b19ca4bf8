// Damaged signatures into the signature reader. The first input byte picks
// what the rest becomes: the whole file (when it starts with "MZ"), 3-byte
// patches (offset low, offset high, value) counted from the certificate
// table of a package signed at start-up, or the table entry's PKCS#7 bytes
// replaced outright. The reader must never read outside the file.
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "payload/bytes.h"
#include "platform/builder_files.h"
#include "tools/fwpack/authenticode/image.h"
#include "tools/fwpack/authenticode/read.h"
#include "tools/fwpack/authenticode/sign.h"
#include "tools/fwpack/container/pe_package.h"

using namespace fwpack;

namespace {

bool MakeIdentity(SigningIdentity &id) {
    id.Key.reset(EVP_RSA_gen(1024));
    id.Cert.reset(X509_new());
    id.Chain.reset(sk_X509_new_null());
    X509 *c = id.Cert.get();
    X509_set_version(c, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(c), 7);
    X509_gmtime_adj(X509_getm_notBefore(c), -3600);
    X509_gmtime_adj(X509_getm_notAfter(c), 3600);
    X509_set_issuer_name(c, X509_get_subject_name(c));
    X509_set_pubkey(c, id.Key.get());
    return X509_sign(c, id.Key.get(), EVP_sha256()) > 0;
}

// stub_last.exe with a small payload, signed.
const std::vector<uint8_t> &Signed() {
    static const std::vector<uint8_t> bytes = [] {
        // __FILE__ may be relative to the build folder, where this program is.
        auto stubPath = std::filesystem::path(__FILE__).parent_path().parent_path() / "fixtures/pe/stub_last.exe";
        if (stubPath.is_relative())
            stubPath = std::filesystem::read_symlink("/proc/self/exe").parent_path() / stubPath;
        std::vector<uint8_t> stub, out;
        std::string error;
        SigningIdentity id;
        if (!ReadWholeFile(stubPath.string(), stub, error) || !MakeIdentity(id) ||
            BuildPePackage(stub, {{2003, std::vector<uint8_t>(100, 3)}}, false, out, error) != PeBuildError::None ||
            !SignPeImage(out, id, "", error)) {
            std::fprintf(stderr, "fuzz_signature: cannot make the signed package: %s\n", error.c_str());
            std::abort();
        }
        return out;
    }();
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    std::vector<uint8_t> file;
    if (size >= 2 && data[0] == 'M' && data[1] == 'Z') {
        file.assign(data, data + size);
    } else {
        file = Signed();
        SignatureSpan span;
        std::string error;
        LocateSignature(file, span, error);
        if (data[0] & 1) {
            // The PKCS#7 bytes replaced, the entry and directory sized to fit.
            file.resize(span.TableOffset + kWinCertHeaderSize);
            file.insert(file.end(), data + 1, data + size);
            const uint32_t length = uint32_t(file.size() - span.TableOffset);
            PutU32(file.data() + span.TableOffset, length);
            PutU32(file.data() + span.EntryOffset + 4, length);
        } else {
            for (size_t i = 1; i + 3 <= size; i += 3) {
                size_t at = (span.TableOffset + (data[i] | size_t(data[i + 1]) << 8)) % file.size();
                file[at] = data[i + 2];
            }
        }
    }
    SignatureReport r = ReadSignature(file);
    if (r.DigestMatches && !r.Readable) std::abort();   // a digest is only compared once read
    return 0;
}
