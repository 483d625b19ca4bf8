// Signing with a key that stays on a PKCS#11 token: a SoftHSM2 token made
// in the test's own folder (SOFTHSM2_CONF), holding the test leaf key and
// certificate and a key that matches no certificate. The token's signature
// is the key file's, byte for byte, at the same signing time; every way the
// token can fail is one line, exit 2 and nothing written.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "test_tool_support.h"

using namespace fwpack::test;

namespace {

const std::string kStub = std::string(FWPACK_SOURCE_DIR) + "/tests/fixtures/pe/stub_last.exe";
const std::string kSoftHsm = "/usr/lib/softhsm/libsofthsm2.so";
const std::string kKeyUri = "pkcs11:token=fwpack%20test;object=leaf";
constexpr char kPin[] = "4711";

bool Contains(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
}

class TokenSigning : public ::testing::Test {
  protected:
    static TempDir *dir_;

    static std::string At(const std::string &name) { return *dir_ / name; }
    static void Run(const std::vector<std::string> &argv) {
        RunResult r = RunProgram(argv);
        ASSERT_EQ(r.Code, 0) << argv[0] << " " << argv[1] << ": " << r.Err << r.Out;
    }
    // The test keys, and a token of its own holding leaf's key and
    // certificate (label "leaf", id 01) and other.key (label "other").
    static void SetUpTestSuite() {
        dir_ = new TempDir;
        Run({std::string(FWPACK_SOURCE_DIR) + "/tests/signing/make_pki.sh", At("pki")});
        std::filesystem::create_directories(At("tokens"));
        std::ofstream(At("softhsm2.conf")) << "directories.tokendir = " << At("tokens")
                                           << "\nobjectstore.backend = file\nlog.level = ERROR\n";
        ::setenv("SOFTHSM2_CONF", At("softhsm2.conf").c_str(), 1);
        Run({"softhsm2-util", "--init-token", "--free", "--label", "fwpack test", "--pin", kPin,
             "--so-pin", "99999999"});
        Run({"softhsm2-util", "--import", At("pki/leaf.key"), "--token", "fwpack test", "--label",
             "leaf", "--id", "01", "--pin", kPin});
        Run({"softhsm2-util", "--import", At("pki/other.key"), "--token", "fwpack test", "--label",
             "other", "--id", "02", "--pin", kPin});
        Run({"openssl", "x509", "-in", At("pki/leaf.pem"), "-outform", "DER", "-out", At("leaf.der")});
        Run({"pkcs11-tool", "--module", kSoftHsm, "--token-label", "fwpack test", "--login", "--pin",
             kPin, "--write-object", At("leaf.der"), "--type", "cert", "--label", "leaf", "--id", "01"});
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }

    TempDir out;

    void SetUp() override {
        ::setenv("FWPACK_SIGN_PIN", kPin, 1);
        // One signing time for every build of a case, so that two signatures
        // of the same bytes with the same key can be compared whole.
        ::setenv("SOURCE_DATE_EPOCH", std::to_string(std::time(nullptr)).c_str(), 1);
    }
    void TearDown() override {
        ::unsetenv("FWPACK_SIGN_PIN");
        ::unsetenv("SOURCE_DATE_EPOCH");
    }
    RunResult Build(const std::string &name, std::vector<std::string> signing) {
        std::vector<std::string> args = {"build", SampleManifest(), "--stub", kStub, "-o", out / name};
        args.insert(args.end(), signing.begin(), signing.end());
        return Fwpack(args);
    }
};
TempDir *TokenSigning::dir_ = nullptr;

TEST_F(TokenSigning, TheTokenSignsAsTheKeyFileDoesAndVerifiersAcceptIt) {
    RunResult r = Build("token.exe", {"--sign-cert", At("pki/chain.pem"), "--sign-pkcs11", kKeyUri,
                                      "--pkcs11-module", kSoftHsm});
    ASSERT_EQ(r.Code, 0) << r.Err;
    ASSERT_EQ(Build("file.exe", {"--sign-cert", At("pki/chain.pem"), "--sign-key", At("pki/leaf.key")}).Code, 0);
    EXPECT_TRUE(ReadBytes(out / "token.exe") == ReadBytes(out / "file.exe"))
        << "the token's package differs from the key file's";

    r = Fwpack({"verify", "--trust", At("pki/root.pem"), out / "token.exe"});
    EXPECT_EQ(r.Code, 0) << r.Out << r.Err;
    r = RunProgram({"osslsigncode", "verify", "-in", out / "token.exe", "-CAfile", At("pki/root.pem")});
    EXPECT_EQ(r.Code, 0) << r.Out << r.Err;
}

TEST_F(TokenSigning, TheCertificateAndThePinMayComeFromTheTokenAndAFile) {
    ::unsetenv("FWPACK_SIGN_PIN");
    std::ofstream(out / "pin.txt") << kPin << "\n";
    const std::string keyUri = "pkcs11:token=fwpack%20test;id=%01?pin-source=file:" + (out / "pin.txt");
    RunResult r = Build("token.exe", {"--sign-cert", "pkcs11:token=fwpack%20test;object=leaf;type=cert",
                                      "--sign-pkcs11", keyUri, "--pkcs11-module", kSoftHsm});
    ASSERT_EQ(r.Code, 0) << r.Err;
    ASSERT_EQ(Build("file.exe", {"--sign-cert", At("pki/leaf.pem"), "--sign-key", At("pki/leaf.key")}).Code, 0);
    EXPECT_TRUE(ReadBytes(out / "token.exe") == ReadBytes(out / "file.exe"));

    // The signer named by the manifest's [signing] section, in a copy of the
    // sample's folder.
    TempDir src;
    std::filesystem::copy(std::filesystem::path(SampleManifest()).parent_path(), src.path(),
                          std::filesystem::copy_options::recursive);
    std::ofstream(src / "package.toml", std::ios::app)
        << "\n[signing]\ncert = \"" << At("pki/chain.pem") << "\"\npkcs11 = \"" << keyUri
        << "\"\npkcs11_module = \"" << kSoftHsm << "\"\n";
    r = Fwpack({"build", src / "package.toml", "--stub", kStub, "-o", out / "manifest.exe"});
    ASSERT_EQ(r.Code, 0) << r.Err;
    r = Fwpack({"verify", "--trust", At("pki/root.pem"), out / "manifest.exe"});
    EXPECT_EQ(r.Code, 0) << r.Out << r.Err;
}

TEST_F(TokenSigning, EveryTokenFailureIsOneLineExitTwoAndNothingWritten) {
    struct Case {
        std::vector<std::string> Flags;
        const char *Pin;
        std::string Says;
    };
    const std::string cert = At("pki/chain.pem");
    const std::vector<Case> cases = {
        {{"--sign-pkcs11", kKeyUri, "--pkcs11-module", kSoftHsm}, "1234",
         "token 'fwpack test' (module " + kSoftHsm + ") refused the PIN (wrong PIN)"},
        {{"--sign-pkcs11", kKeyUri, "--pkcs11-module", kSoftHsm}, nullptr, "needs a PIN: set FWPACK_SIGN_PIN"},
        {{"--sign-pkcs11", "pkcs11:token=fwpack%20test;object=absent", "--pkcs11-module", kSoftHsm}, kPin,
         "no private key matches it on token 'fwpack test'"},
        {{"--sign-pkcs11", "pkcs11:token=absent;object=leaf", "--pkcs11-module", kSoftHsm}, kPin,
         "no token matches it in the PKCS#11 module " + kSoftHsm},
        {{"--sign-pkcs11", "pkcs11:token=fwpack%20test;object=other", "--pkcs11-module", kSoftHsm}, kPin,
         "the key does not match the certificate"},
        {{"--sign-pkcs11", kKeyUri, "--pkcs11-module", At("pki/root.pem")}, kPin,
         "the PKCS#11 module " + At("pki/root.pem") + " cannot be loaded"},
        {{"--sign-pkcs11", "pkcs11:token=fwpack%20test;object=absent"}, kPin, "p11-kit-proxy.so"},
        {{"--sign-pkcs11", kKeyUri + "?pin-value=4711", "--pkcs11-module", kSoftHsm}, kPin,
         "a PIN in the URI (pin-value) would be on the command line"},
        {{"--sign-pkcs11", "pkcs11:token=fwpack%2"}, kPin, "cannot read \"token=fwpack%2\""},
        {{"--sign-pkcs11", kKeyUri, "--sign-key", At("pki/leaf.key")}, kPin, "not --sign-key"},
        {{"--sign-key", At("pki/leaf.key"), "--pkcs11-module", kSoftHsm}, kPin, "applies only with --sign-pkcs11"},
    };
    for (const Case &c : cases) {
        if (c.Pin) ::setenv("FWPACK_SIGN_PIN", c.Pin, 1);
        else ::unsetenv("FWPACK_SIGN_PIN");
        std::vector<std::string> flags = {"--sign-cert", cert};
        flags.insert(flags.end(), c.Flags.begin(), c.Flags.end());
        RunResult r = Build("refused.exe", flags);
        EXPECT_EQ(r.Code, 2) << c.Says;
        ASSERT_EQ(r.ErrLines().size(), 1u) << r.Err;
        EXPECT_TRUE(Contains(r.Err, c.Says)) << "want: " << c.Says << "\ngot:  " << r.Err;
        EXPECT_TRUE(FilesBelow(out.path()).empty()) << "something was written for " << c.Says;
    }
}

}  // namespace
