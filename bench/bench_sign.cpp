// Signing a 64 MiB package .exe against a plain SHA-256 of the same bytes,
// measured side by side in one run (best of several rounds each, all in
// memory). Signing is what the build does as its last step: the image
// digest, the PKCS#7 signature, the certificate table appended and the
// checksum set. The target is a ratio of 1.3 or less.
#include <openssl/evp.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/builder_files.h"
#include "tools/fwpack/authenticode/sign.h"
#include "tools/fwpack/container/pe_package.h"

using namespace fwpack;

namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t kPayloadSize = 64u << 20;
constexpr int kRounds = 11;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

std::vector<uint8_t> Noise(size_t size) {
    std::vector<uint8_t> bytes(size);
    uint64_t x = 0x9E3779B97F4A7C15ull;
    for (auto &b : bytes) {
        x ^= x << 13, x ^= x >> 7, x ^= x << 17;
        b = uint8_t(x >> 24);
    }
    return bytes;
}

// A throw-away self-signed code-signing identity (RSA 2048).
bool MakeIdentity(SigningIdentity &id) {
    id.Key.reset(EVP_RSA_gen(2048));
    id.Cert.reset(X509_new());
    id.Chain.reset(sk_X509_new_null());
    X509 *c = id.Cert.get();
    if (!id.Key || !c) return false;
    X509_set_version(c, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(c), 1);
    X509_gmtime_adj(X509_getm_notBefore(c), -3600);
    X509_gmtime_adj(X509_getm_notAfter(c), 3600);
    X509_NAME_add_entry_by_txt(X509_get_subject_name(c), "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char *>("bench signer"), -1, -1, 0);
    X509_set_issuer_name(c, X509_get_subject_name(c));
    X509_set_pubkey(c, id.Key.get());
    return X509_sign(c, id.Key.get(), EVP_sha256()) > 0;
}

}  // namespace

int main() {
    const auto stubPath = std::filesystem::path(FWPACK_BENCH_SOURCE_DIR) / "tests/fixtures/pe/stub_last.exe";
    std::vector<uint8_t> stub, package;
    std::string error;
    if (!ReadWholeFile(stubPath.string(), stub, error)) {
        std::fprintf(stderr, "bench_sign: %s\n", error.c_str());
        return 1;
    }
    ResourceSet set = {{2001, Noise(kPayloadSize)}};
    if (BuildPePackage(stub, set, false, package, error) != PeBuildError::None) {
        std::fprintf(stderr, "bench_sign: %s\n", error.c_str());
        return 1;
    }
    SigningIdentity id;
    if (!MakeIdentity(id)) {
        std::fprintf(stderr, "bench_sign: cannot make a key and certificate\n");
        return 1;
    }
    double bestSha = 1e9, bestSign = 1e9;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    for (int round = 0; round < kRounds; ++round) {
        auto start = Clock::now();
        EVP_Digest(package.data(), package.size(), digest, &n, EVP_sha256(), nullptr);
        bestSha = std::min(bestSha, Seconds(Clock::now() - start));

        // The package as the build hands it to the signing step.
        BuildPePackage(stub, set, false, package, error);
        start = Clock::now();
        if (!SignPeImage(package, id, "", error)) {
            std::fprintf(stderr, "bench_sign: %s\n", error.c_str());
            return 1;
        }
        bestSign = std::min(bestSign, Seconds(Clock::now() - start));
    }
    const double mib = double(kPayloadSize) / (1 << 20);
    std::printf("package of %.1f MiB\n", mib);
    std::printf("sha-256   %7.1f ms  (%.0f MiB/s)\n", bestSha * 1e3, mib / bestSha);
    std::printf("signing   %7.1f ms  (%.0f MiB/s)\n", bestSign * 1e3, mib / bestSign);
    std::printf("signing / sha-256 = %.2f (target 1.3 or less)\n", bestSign / bestSha);
    return 0;
}
