// Signed Windows packages: fwpack build signs with keys made here by the
// openssl program (tests/signing/make_pki.sh); inspect, verify and extract
// read the result, an independent verifier (osslsigncode) accepts it, the
// DOS updater's tag scan still finds every resource, and every kind of
// damage is reported by verify without a crash.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <filesystem>

#include <openssl/pem.h>
#include <openssl/ts.h>

#include "payload/bytes.h"
#include "support/dos_package.h"
#include "support/dos_scan.h"
#include "tools/fwpack/authenticode/image.h"
#include "tools/fwpack/authenticode/openssl_util.h"
#include "tools/fwpack/container/container.h"
#include "tools/fwpack/pe/image.h"
#include "test_tool_support.h"

using namespace fwpack;
using namespace fwpack::test;
namespace fs = std::filesystem;

namespace {

const std::string kStub = std::string(FWPACK_SOURCE_DIR) + "/tests/fixtures/pe/stub_last.exe";
constexpr char kP12Password[] = "pki-pass";

bool Contains(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
}

// Lines of text that contain part.
size_t CountLines(const std::string &text, const std::string &part) {
    size_t n = 0;
    for (const std::string &line : RunResult::Lines(text)) n += Contains(line, part);
    return n;
}

class Signing : public ::testing::Test {
  protected:
    static TempDir *pki_;
    static std::string signedExe_;   // the sample signed with leaf + chain, made once

    static void SetUpTestSuite() {
        pki_ = new TempDir;
        RunResult r = RunProgram({std::string(FWPACK_SOURCE_DIR) + "/tests/signing/make_pki.sh", pki_->path()});
        ASSERT_EQ(r.Code, 0) << r.Err;
        signedExe_ = *pki_ / "signed.exe";
        r = Fwpack({"build", SampleManifest(), "--stub", kStub, "-o", signedExe_, "--sign-cert",
                    Pki("chain.pem"), "--sign-key", Pki("leaf.key")});
        ASSERT_EQ(r.Code, 0) << r.Err;
    }
    static void TearDownTestSuite() {
        delete pki_;
        pki_ = nullptr;
    }
    static std::string Pki(const std::string &name) { return *pki_ / name; }

    TempDir dir;

    RunResult BuildSigned(const std::string &out, std::vector<std::string> signing) {
        std::vector<std::string> args = {"build", SampleManifest(), "--stub", kStub, "-o", out};
        args.insert(args.end(), signing.begin(), signing.end());
        return Fwpack(args);
    }
    // A copy of the signed sample, changed by edit, and verify's result on it.
    RunResult VerifyChanged(const std::function<void(std::vector<uint8_t> &)> &edit) {
        std::vector<uint8_t> bytes = ReadBytes(signedExe_);
        edit(bytes);
        WriteBytes(dir / "changed.exe", bytes);
        return Fwpack({"verify", dir / "changed.exe"});
    }
};
TempDir *Signing::pki_ = nullptr;
std::string Signing::signedExe_;

SignatureSpan Span(const std::vector<uint8_t> &file) {
    SignatureSpan span;
    std::string error;
    EXPECT_TRUE(LocateSignature(file, span, error)) << error;
    return span;
}

TEST_F(Signing, ASignedPackageIsReadVerifiedAndExtractedLikeAnUnsignedOne) {
    const std::vector<uint8_t> file = ReadBytes(signedExe_);
    const SignatureSpan span = Span(file);
    ASSERT_TRUE(span.HasTable());
    EXPECT_EQ(span.TableOffset % 8, 0u);
    EXPECT_EQ(span.TableSize % 8, 0u);
    EXPECT_EQ(size_t(span.TableOffset) + span.TableSize, file.size());
    EXPECT_EQ(ReadU32(file.data() + span.TableOffset), span.TableSize);      // dwLength
    EXPECT_EQ(ReadU16(file.data() + span.TableOffset + 4), 0x0200);          // revision 2.0
    EXPECT_EQ(ReadU16(file.data() + span.TableOffset + 6), 0x0002);          // PKCS#7
    EXPECT_EQ(ReadU32(file.data() + span.ChecksumOffset), ComputePeChecksum(file, span.ChecksumOffset));

    // The same resources as the unsigned build; verify, extract as before.
    ASSERT_EQ(BuildSigned(dir / "plain.exe", {}).Code, 0);
    ResourceSet plain, fromSigned;
    ContainerKind kind;
    std::string error;
    ASSERT_TRUE(ReadContainer(dir / "plain.exe", plain, kind, error)) << error;
    ASSERT_TRUE(ReadContainer(signedExe_, fromSigned, kind, error)) << error;
    EXPECT_EQ(fromSigned, plain);
    RunResult r = Fwpack({"verify", signedExe_});
    EXPECT_EQ(r.Code, 0) << r.Out;
    r = Fwpack({"verify", signedExe_, "--require-signature", "--trust", Pki("root.pem")});
    EXPECT_EQ(r.Code, 0) << r.Out;
    ASSERT_EQ(Fwpack({"extract", signedExe_, dir / "x"}).Code, 0);
    EXPECT_EQ(ReadBytes(dir / "x/BiosPackage/bios.bin"),
              ReadBytes(std::string(FWPACK_SOURCE_DIR) + "/examples/sample/bios.bin"));

    r = Fwpack({"inspect", signedExe_});
    ASSERT_EQ(r.Code, 0);
    EXPECT_TRUE(Contains(r.Out, "signed        yes"));
    EXPECT_TRUE(Contains(r.Out, "signer        O=Example Firmware,CN=fwpack Test Signer"));
    EXPECT_TRUE(Contains(r.Out, "issuer        CN=fwpack Test Intermediate"));
    EXPECT_TRUE(Contains(r.Out, "digest        sha256, matches the file"));
    EXPECT_TRUE(Contains(r.Out, "verifies      yes"));
    EXPECT_TRUE(Contains(r.Out, "certificates  2"));
    EXPECT_TRUE(Contains(r.Out, "timestamp     none: the signature expires with the certificate"));
    r = Fwpack({"inspect", "--json", signedExe_});
    EXPECT_TRUE(Contains(r.Out, "\"signature\": {\"signed\": true, \"readable\": true"));
    EXPECT_TRUE(Contains(r.Out, "\"digest_algorithm\": \"sha256\", \"digest_matches\": true"));
    EXPECT_TRUE(Contains(r.Out, "\"signature_verifies\": true"));
    r = RunProgram({"python3", "-c", "import json,sys; d=json.load(open(sys.argv[1])); "
                    "s=d['signature']; print(s['not_before'] < s['not_after'])",
                    (WriteBytes(dir / "i.json", {r.Out.begin(), r.Out.end()}), dir / "i.json")});
    EXPECT_EQ(r.Out, "True\n") << r.Err;

    // An unsigned package: says so; a problem only when a signature is required.
    r = Fwpack({"inspect", dir / "plain.exe"});
    EXPECT_TRUE(Contains(r.Out, "signed        no"));
    EXPECT_EQ(Fwpack({"verify", dir / "plain.exe"}).Code, 0);
    r = Fwpack({"verify", dir / "plain.exe", "--require-signature"});
    EXPECT_EQ(r.Code, 1);
    EXPECT_EQ(r.OutLines(), (std::vector<std::string>{"signature: none, and one is required"}));
}

TEST_F(Signing, AnIndependentVerifierAcceptsTheSignature) {
    RunResult r = RunProgram({"osslsigncode", "verify", "-in", signedExe_, "-CAfile", Pki("root.pem")});
    EXPECT_EQ(r.Code, 0) << r.Out << r.Err;
    EXPECT_TRUE(Contains(r.Out, "Signature verification: ok")) << r.Out;
    EXPECT_TRUE(Contains(r.Out, "Message digest algorithm  : SHA256")) << r.Out;
    // Its own reading of the checksum and digest agrees with ours.
    EXPECT_FALSE(Contains(r.Out, "MISMATCH")) << r.Out;
}

TEST_F(Signing, TheChainIsCheckedAgainstTheGivenRoot) {
    RunResult r = Fwpack({"verify", signedExe_, "--trust", Pki("other-root.pem")});
    EXPECT_EQ(r.Code, 1);
    ASSERT_EQ(r.OutLines().size(), 1u) << r.Out;
    EXPECT_TRUE(Contains(r.Out, "does not lead to a root in")) << r.Out;
    // Without the intermediate in the signature the chain has a gap.
    ASSERT_EQ(BuildSigned(dir / "leafonly.exe", {"--sign-cert", Pki("leaf.pem"), "--sign-key", Pki("leaf.key")}).Code, 0);
    EXPECT_EQ(Fwpack({"verify", dir / "leafonly.exe"}).Code, 0);
    r = Fwpack({"verify", dir / "leafonly.exe", "--trust", Pki("root.pem")});
    EXPECT_EQ(r.Code, 1);
    EXPECT_TRUE(Contains(r.Out, "unable to get local issuer certificate")) << r.Out;
    // The intermediate itself as the trusted root is enough.
    EXPECT_EQ(Fwpack({"verify", dir / "leafonly.exe", "--trust", Pki("inter.pem")}).Code, 0);
}

TEST_F(Signing, BadSignersAreRefusedWithOneLineAndNothingWritten) {
    struct Case {
        std::vector<std::string> Flags;
        std::string Says;
    };
    const std::string notAKey = dir / "notakey.pem";
    WriteBytes(notAKey, {'n', 'o', 'p', 'e', '\n'});
    const std::string fifo = *pki_ / "fifo";
    ASSERT_TRUE(::mkfifo(fifo.c_str(), 0600) == 0 || errno == EEXIST);
    const std::vector<Case> cases = {
        {{"--sign-cert", Pki("chain.pem"), "--sign-key", Pki("other.key")}, "does not match the certificate"},
        {{"--sign-cert", Pki("expired.pem"), "--sign-key", Pki("expired.key")}, "expired on 2020-02-01T00:00:00Z"},
        {{"--sign-cert", Pki("chain.pem"), "--sign-key", notAKey}, "bad key"},
        {{"--sign-cert", notAKey, "--sign-key", Pki("leaf.key")}, "not a PEM certificate"},
        {{"--sign-cert", Pki("server.pem"), "--sign-key", Pki("server.key")}, "not for code signing"},
        {{"--sign-cert", Pki("chain.pem")}, "needs both --sign-cert and --sign-key"},
        {{"--sign-pkcs12", Pki("leaf.p12"), "--sign-key", Pki("leaf.key")}, "not both"},
        {{"--sign-pkcs12", Pki("leaf.p12")}, "wrong password"},   // FWPACK_SIGN_PASSWORD unset
        {{"--sign-pkcs12", Pki("leaf.key")}, "not a PKCS#12 file"},
        {{"--timestamp-url", "http://127.0.0.1:9/"}, "--timestamp-url needs a signer"},
        {{"--sign-cert", dir / "gone.pem", "--sign-key", Pki("leaf.key")}, "No such file or directory"},
        // Refused at once rather than waited on.
        {{"--sign-cert", fifo, "--sign-key", Pki("leaf.key")}, "--sign-cert: not a regular file"},
        {{"--sign-cert", Pki("chain.pem"), "--sign-key", fifo}, "--sign-key: not a regular file"},
        {{"--sign-pkcs12", fifo}, "--sign-pkcs12: not a regular file"},
    };
    ::unsetenv("FWPACK_SIGN_PASSWORD");
    for (const Case &c : cases) {
        const std::string out = dir / "refused.exe";
        RunResult r = BuildSigned(out, c.Flags);
        EXPECT_EQ(r.Code, 2) << c.Says;
        ASSERT_EQ(r.ErrLines().size(), 1u) << r.Err;
        EXPECT_TRUE(Contains(r.Err, c.Says)) << r.Err;
        EXPECT_TRUE(FilesBelow(dir.path()).size() == 1) << "something was written for " << c.Says;
    }
    // Signing options for a package that is not a Windows one.
    RunResult r = Fwpack({"build", SampleManifest(), "--resources-dir", dir / "res", "--sign-cert",
                          Pki("chain.pem"), "--sign-key", Pki("leaf.key")});
    EXPECT_EQ(r.Code, 2);
    EXPECT_TRUE(Contains(r.Err, "signing applies to Windows packages")) << r.Err;
    r = Fwpack({"verify", signedExe_, "--trust", fifo});
    EXPECT_EQ(r.Code, 1);
    EXPECT_TRUE(Contains(r.Out, "--trust: not a regular file")) << r.Out;
}

TEST_F(Signing, Pkcs12TakesItsPasswordFromTheEnvironment) {
    ::setenv("FWPACK_SIGN_PASSWORD", "wrong", 1);
    RunResult r = BuildSigned(dir / "p.exe", {"--sign-pkcs12", Pki("leaf.p12")});
    EXPECT_EQ(r.Code, 2);
    EXPECT_TRUE(Contains(r.Err, "wrong password (the one in FWPACK_SIGN_PASSWORD)")) << r.Err;
    ::setenv("FWPACK_SIGN_PASSWORD", kP12Password, 1);
    r = BuildSigned(dir / "p.exe", {"--sign-pkcs12", Pki("leaf.p12")});
    ::unsetenv("FWPACK_SIGN_PASSWORD");
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(Fwpack({"verify", dir / "p.exe", "--trust", Pki("root.pem")}).Code, 0);
}

TEST_F(Signing, TheManifestMayNameTheSignerAndFlagsWin) {
    // A copy of the sample manifest beside copies of its folders' paths.
    std::string text = Text(ReadBytes(SampleManifest()));
    const std::string sample = std::string(FWPACK_SOURCE_DIR) + "/examples/sample/";
    for (const char *key : {"tools = \"", "image = \""})
        for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + 1))
            text.insert(at + std::strlen(key), sample);
    auto manifest = [&](const std::string &signing) {
        const std::string m = dir / "package.toml";
        const std::string all = text + "\n[signing]\n" + signing;
        WriteBytes(m, {all.begin(), all.end()});
        return m;
    };
    fs::copy_file(Pki("chain.pem"), dir / "chain.pem");
    fs::copy_file(Pki("leaf.key"), dir / "leaf.key");
    std::string m = manifest("cert = \"chain.pem\"\nkey = \"leaf.key\"\n");
    RunResult r = Fwpack({"build", m, "--stub", kStub, "-o", dir / "m.exe"});
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_TRUE(Contains(Fwpack({"inspect", dir / "m.exe"}).Out, "signer        O=Example Firmware,CN=fwpack Test Signer"));

    // The manifest names a key that does not match; the flags' signer wins.
    fs::copy_file(Pki("other.key"), dir / "other.key");
    m = manifest("cert = \"chain.pem\"\nkey = \"other.key\"\n");
    EXPECT_EQ(Fwpack({"build", m, "--stub", kStub, "-o", dir / "m2.exe"}).Code, 2);
    r = Fwpack({"build", m, "--stub", kStub, "-o", dir / "m2.exe", "--sign-cert", Pki("chain.pem"),
                "--sign-key", Pki("leaf.key")});
    EXPECT_EQ(r.Code, 0) << r.Err;

    // A resources folder is not signed; the section is skipped with a note.
    r = Fwpack({"build", m, "--resources-dir", dir / "res"});
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_TRUE(Contains(r.Err, "[signing] applies to Windows packages")) << r.Err;

    m = manifest("cert = \"chain.pem\"\n");
    r = Fwpack({"build", m, "--stub", kStub, "-o", dir / "m3.exe"});
    EXPECT_EQ(r.Code, 2);
    EXPECT_TRUE(Contains(r.Err, "signing.key: required key is missing")) << r.Err;

    // A section that names nobody is an error, not an unsigned package; a
    // missing file is named by the manifest's key.
    for (const auto &[section, says] : std::vector<std::pair<std::string, std::string>>{
             {"", "names no signer"},
             {"timestamp_url = \"http://127.0.0.1:1/\"\n", "names no signer"},
             {"cert = \"\"\nkey = \"\"\n", "names no signer"},
             {"pkcs12 = \"gone.p12\"\n", "signing.pkcs12: cannot open"}}) {
        r = Fwpack({"build", manifest(section), "--stub", kStub, "-o", dir / "m4.exe"});
        EXPECT_EQ(r.Code, 2) << section;
        EXPECT_EQ(r.ErrLines().size(), 1u) << r.Err;
        EXPECT_TRUE(Contains(r.Err, says)) << r.Err;
        EXPECT_FALSE(Contains(r.Err, "--sign-")) << r.Err;
        EXPECT_FALSE(FileExists(dir / "m4.exe")) << section;
    }
}

TEST_F(Signing, ASignedStubLosesItsOldSignatureAndSaysSo) {
    const std::string out = dir / "again.exe";
    RunResult r = Fwpack({"build", SampleManifest(), "--stub", signedExe_, "--replace", "-o", out});
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(CountLines(r.Err, "is signed; its certificate table is dropped"), 1u) << r.Err;
    const std::vector<uint8_t> plain = ReadBytes(out);
    EXPECT_FALSE(Span(plain).HasTable());
    EXPECT_LT(plain.size(), ReadBytes(signedExe_).size());
    EXPECT_EQ(Fwpack({"verify", out}).Code, 0);

    r = Fwpack({"build", SampleManifest(), "--stub", signedExe_, "--replace", "-o", out,
                "--sign-cert", Pki("chain.pem"), "--sign-key", Pki("leaf.key")});
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(Fwpack({"verify", out, "--trust", Pki("root.pem")}).Code, 0);
}

TEST_F(Signing, TheDosTagScanFindsEveryResourceInASignedPackage) {
    ResourceSet set;
    ContainerKind kind;
    std::string error;
    ASSERT_TRUE(ReadContainer(signedExe_, set, kind, error)) << error;
    EXPECT_EQ(DosScanFinds(signedExe_, set), (std::vector<uint16_t>{2000, 2002, 2003, 2004}));
}

TEST_F(Signing, EveryChangeAfterSigningIsReportedByVerify) {
    const std::vector<uint8_t> original = ReadBytes(signedExe_);
    const SignatureSpan span = Span(original);
    const std::vector<uint8_t> bios = ReadBytes(std::string(FWPACK_SOURCE_DIR) + "/examples/sample/bios.bin");
    const size_t biosAt = size_t(std::search(original.begin(), original.end(), bios.begin(), bios.begin() + 64) -
                                 original.begin());
    ASSERT_LT(biosAt, original.size());
    struct Case {
        const char *What;
        std::function<void(std::vector<uint8_t> &)> Edit;
        const char *Says;
    };
    const std::vector<Case> cases = {
        {"payload byte", [&](auto &b) { b[biosAt + 100] ^= 1; }, "differs from the signed digest"},
        {"DOS stub byte", [](auto &b) { b[0x50] ^= 1; }, "differs from the signed digest"},
        {"COFF header time stamp", [](auto &b) { b[ReadU32(b.data() + 0x3c) + 8] ^= 1; }, "differs from the signed digest"},
        {"signature value in the table", [&](auto &b) { b[b.size() - 40] ^= 1; }, "signature: "},
        {"table entry length", [&](auto &b) { PutU32(b.data() + span.TableOffset, 4); }, "claims 4 bytes"},
        {"table directory size", [&](auto &b) { PutU32(b.data() + span.EntryOffset + 4, span.TableSize + 8); }, "runs past the end"},
        {"appended bytes", [](auto &b) { b.insert(b.end(), 16, 0xAB); }, "16 bytes follow the certificate table"},
        {"truncated table", [](auto &b) { b.resize(b.size() - 100); }, "runs past the end of the file"},
        {"truncated to the headers", [](auto &b) { b.resize(0x400); }, ""},
    };
    for (const Case &c : cases) {
        RunResult r = VerifyChanged(c.Edit);
        // Exit 1 with problem lines, or 2 when the package cannot be read at all.
        EXPECT_TRUE(r.Code == 1 || r.Code == 2) << c.What << ": exit " << r.Code;
        EXPECT_TRUE(Contains(r.Out + r.Err, c.Says)) << c.What << ":\n" << r.Out << r.Err;
    }
    // The checksum field is outside the digest: the signature still holds.
    RunResult r = VerifyChanged([&](auto &b) { b[span.ChecksumOffset] ^= 1; });
    EXPECT_EQ(CountLines(r.Out, "signature:"), 0u) << r.Out;
}

TEST_F(Signing, ADualModePackageIsSignedWithItsDosProgram) {
    const std::string dos = dir / "DOSUPD.EXE", out = dir / "dual.exe";
    const std::vector<uint8_t> program = DosProgram(6000, 5);
    WriteBytes(dos, program);
    RunResult r = Fwpack({"build", SampleManifest(), "--stub",
                          std::string(FWPACK_SOURCE_DIR) + "/tests/fixtures/pe/stub_roomy.exe", "--dos-program",
                          dos, "-o", out, "--sign-cert", Pki("chain.pem"), "--sign-key", Pki("leaf.key")});
    ASSERT_EQ(r.Code, 0) << r.Err;
    r = Fwpack({"verify", out, "--trust", Pki("root.pem")});
    EXPECT_EQ(r.Code, 0) << r.Out;
    r = RunProgram({"osslsigncode", "verify", "-in", out, "-CAfile", Pki("root.pem")});
    EXPECT_TRUE(Contains(r.Out, "Signature verification: ok")) << r.Out << r.Err;

    // One byte of the DOS program changed: the signature no longer holds.
    std::vector<uint8_t> bytes = ReadBytes(out);
    ASSERT_TRUE(std::equal(program.begin() + 64, program.end(), bytes.begin() + 64));
    bytes[3000] ^= 0x20;
    WriteBytes(out, bytes);
    r = Fwpack({"verify", out});
    EXPECT_EQ(r.Code, 1);
    EXPECT_EQ(CountLines(r.Out, "differs from the signed digest"), 1u) << r.Out;
}

// The local time-stamp authority (tests/signing/tsa_server.py): it runs
// until the object goes, which closes its input.
class TimestampAuthority {
  public:
    explicit TimestampAuthority(const std::string &pki) {
        int in[2], out[2];
        if (::pipe(in) != 0 || ::pipe(out) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, in[1]);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        const std::string script = std::string(FWPACK_SOURCE_DIR) + "/tests/signing/tsa_server.py";
        const char *argv[] = {"python3", script.c_str(), pki.c_str(), nullptr};
        if (posix_spawnp(&pid_, "python3", &actions, nullptr, const_cast<char **>(argv), environ) != 0)
            pid_ = 0;
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(out[1]);
        input_ = in[1];
        std::string line;
        char c;
        while (::read(out[0], &c, 1) == 1 && c != '\n') line += c;   // EOF when it failed
        ::close(out[0]);
        port_ = std::atoi(line.c_str());
    }
    ~TimestampAuthority() {
        if (input_ >= 0) ::close(input_);
        if (pid_ > 0) ::waitpid(pid_, nullptr, 0);
    }
    std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/tsa"; }
    int Port() const { return port_; }

  private:
    pid_t pid_ = 0;
    int input_ = -1, port_ = 0;
};

TEST_F(Signing, ATimestampedSignatureNamesItsTimeAndAuthority) {
    TimestampAuthority tsa(Pki(""));
    ASSERT_NE(tsa.Port(), 0);
    const std::string out = dir / "stamped.exe";
    RunResult r = BuildSigned(out, {"--sign-cert", Pki("chain.pem"), "--sign-key", Pki("leaf.key"),
                                    "--timestamp-url", tsa.Url()});
    ASSERT_EQ(r.Code, 0) << r.Err;
    r = Fwpack({"inspect", out});
    EXPECT_TRUE(Contains(r.Out, "by CN=fwpack Test Time-Stamp Authority")) << r.Out;
    EXPECT_FALSE(Contains(r.Out, "timestamp     none")) << r.Out;
    r = Fwpack({"verify", out, "--trust", Pki("root.pem")});
    EXPECT_EQ(r.Code, 0) << r.Out;
    r = RunProgram({"osslsigncode", "verify", "-in", out, "-CAfile", Pki("root.pem"), "-TSA-CAfile", Pki("root.pem")});
    EXPECT_TRUE(Contains(r.Out, "Signature verification: ok")) << r.Out << r.Err;

    // No authority at the URL, or not an http:// one: one line, nothing written.
    for (const auto &[url, says] : std::vector<std::pair<std::string, std::string>>{
             {"http://127.0.0.1:1/tsa", "cannot connect"}, {"https://127.0.0.1:1/tsa", "give an http:// URL"}}) {
        r = BuildSigned(dir / "unstamped.exe", {"--sign-cert", Pki("chain.pem"), "--sign-key",
                                                Pki("leaf.key"), "--timestamp-url", url});
        EXPECT_EQ(r.Code, 2);
        EXPECT_EQ(r.ErrLines().size(), 1u) << r.Err;
        EXPECT_TRUE(Contains(r.Err, says)) << r.Err;
    }
    EXPECT_FALSE(FileExists(dir / "unstamped.exe"));
}

// The sample built unsigned into dir, then signed with osslsigncode, an
// Authenticode signer that is not ours; extra: its further options.
RunResult OsslSign(const std::string &dir, const std::string &out, std::vector<std::string> extra) {
    const std::string in = dir + "/unsigned.exe";
    if (!FileExists(in)) {
        RunResult built = Fwpack({"build", SampleManifest(), "--stub", kStub, "-o", in});
        if (built.Code != 0) return built;
    }
    std::vector<std::string> args = {"osslsigncode", "sign", "-in", in, "-out", out};
    args.insert(args.end(), extra.begin(), extra.end());
    return RunProgram(args);
}

template <class T>
T *ReadPem(const std::string &path, T *(*read)(FILE *, T **, pem_password_cb *, void *)) {
    FILE *f = std::fopen(path.c_str(), "r");
    T *object = f ? read(f, nullptr, nullptr, nullptr) : nullptr;
    if (f) std::fclose(f);
    return object;
}

int FixedTime(TS_RESP_CTX *, void *when, long *sec, long *usec) {
    *sec = long(*static_cast<time_t *>(when));
    *usec = 0;
    return 1;
}

// A token from the authority (cert, key) dated `when`, over `imprint`: what
// anyone with a self-made authority can make.
Pkcs7Ptr MakeToken(const std::string &cert, const std::string &key, time_t when,
                   std::vector<unsigned char> imprint) {
    X509Ptr tsa(ReadPem<X509>(cert, PEM_read_X509));
    KeyPtr tsaKey(ReadPem<EVP_PKEY>(key, PEM_read_PrivateKey));
    std::unique_ptr<TS_REQ, OpenSslFree<TS_REQ, TS_REQ_free>> req(TS_REQ_new());
    TS_MSG_IMPRINT *mi = TS_MSG_IMPRINT_new();
    X509_ALGOR *alg = X509_ALGOR_new();
    X509_ALGOR_set0(alg, OBJ_nid2obj(NID_sha256), V_ASN1_NULL, nullptr);
    TS_MSG_IMPRINT_set_algo(mi, alg);
    TS_MSG_IMPRINT_set_msg(mi, imprint.data(), int(imprint.size()));
    TS_REQ_set_version(req.get(), 1);
    TS_REQ_set_msg_imprint(req.get(), mi);
    TS_REQ_set_cert_req(req.get(), 1);
    TS_MSG_IMPRINT_free(mi);
    X509_ALGOR_free(alg);
    BioPtr query(BIO_new(BIO_s_mem()));
    i2d_TS_REQ_bio(query.get(), req.get());
    TS_RESP_CTX *ctx = TS_RESP_CTX_new();
    ASN1_OBJECT *policy = OBJ_txt2obj("1.2.3.4.1", 1);
    TS_RESP_CTX_set_signer_cert(ctx, tsa.get());
    TS_RESP_CTX_set_signer_key(ctx, tsaKey.get());
    TS_RESP_CTX_set_def_policy(ctx, policy);
    TS_RESP_CTX_add_md(ctx, EVP_sha256());
    TS_RESP_CTX_set_time_cb(ctx, FixedTime, &when);
    TS_RESP *resp = TS_RESP_create_response(ctx, query.get());
    Pkcs7Ptr token(resp && TS_RESP_get_token(resp) ? PKCS7_dup(TS_RESP_get_token(resp)) : nullptr);
    TS_RESP_free(resp);
    TS_RESP_CTX_free(ctx);
    ASN1_OBJECT_free(policy);
    return token;
}

// Adds a token from the authority dated `when` to the package's
// signature; coverSignature false: over other bytes than the signature.
void AddToken(const std::string &path, const std::string &cert, const std::string &key, time_t when,
              bool coverSignature = true) {
    std::vector<uint8_t> file = ReadBytes(path);
    SignatureSpan span = Span(file);
    std::vector<WinCertificate> entries;
    std::string error;
    ASSERT_TRUE(ReadCertificateTable(file, span, entries, error)) << error;
    const unsigned char *p = entries.at(0).Data;
    Pkcs7Ptr p7(d2i_PKCS7(nullptr, &p, long(entries[0].Length)));
    ASSERT_TRUE(p7);
    PKCS7_SIGNER_INFO *si = sk_PKCS7_SIGNER_INFO_value(PKCS7_get_signer_info(p7.get()), 0);
    std::vector<unsigned char> imprint(32);
    const ASN1_OCTET_STRING *value = si->enc_digest;
    EVP_Digest(ASN1_STRING_get0_data(value), size_t(ASN1_STRING_length(value)) - !coverSignature,
               imprint.data(), nullptr, EVP_sha256(), nullptr);
    Pkcs7Ptr token = MakeToken(cert, key, when, imprint);
    ASSERT_TRUE(token);
    unsigned char *der = nullptr;
    const int length = i2d_PKCS7(token.get(), &der);
    ASN1_STRING *attr = ASN1_STRING_new();
    ASN1_STRING_set(attr, der, length);
    OPENSSL_free(der);
    int nid = OBJ_txt2nid("1.3.6.1.4.1.311.3.3.1");
    if (nid == NID_undef) nid = OBJ_create("1.3.6.1.4.1.311.3.3.1", "testRfc3161", "test RFC 3161");
    ASSERT_EQ(PKCS7_add_attribute(si, nid, V_ASN1_SEQUENCE, attr), 1);
    der = nullptr;
    const int signatureLength = i2d_PKCS7(p7.get(), &der);
    const std::vector<uint8_t> signature(der, der + signatureLength);
    OPENSSL_free(der);
    file.resize(span.TableOffset);
    span.TableOffset = span.TableSize = 0;
    uint64_t sum = 0;
    ImageDigest(file, span, EVP_sha256(), &sum);
    AttachCertificateTable(file, span, signature, sum);
    WriteBytes(path, file);
}

time_t January2020() { return 1579046400; }   // 2020-01-15T00:00:00Z

TEST_F(Signing, ABackDatedTimeStampCountsOnlyFromATrustedAuthority) {
    // A signer whose certificate lapsed in 2020, back-dated into its life
    // by a time-stamp authority anyone could make.
    const std::string forged = dir / "forged.exe";
    RunResult r = OsslSign(dir.path(), forged, {"-certs", Pki("lapsed.pem"), "-key", Pki("lapsed.key")});
    ASSERT_EQ(r.Code, 0) << r.Err;
    AddToken(forged, Pki("rogue-tsa.pem"), Pki("rogue-tsa.key"), January2020());
    r = Fwpack({"verify", forged, "--trust", Pki("old-root.pem")});
    EXPECT_EQ(r.Code, 1);
    EXPECT_EQ(r.OutLines().size(), 1u) << r.Out;
    EXPECT_TRUE(Contains(r.Out, "certificate has expired")) << r.Out;
    r = Fwpack({"inspect", forged, "--trust", Pki("old-root.pem")});
    EXPECT_TRUE(Contains(r.Out, "timestamp     2020-01-15T00:00:00Z by CN=fwpack Rogue Time-Stamp Authority, "
                                "not used: its authority does not chain to a trusted root"))
        << r.Out;
    EXPECT_TRUE(Contains(r.Out, "trusted       NO")) << r.Out;

    // Trusting that authority too makes its time count, and the signer is
    // judged as it stood then.
    const std::string both = dir / "both.pem";
    std::vector<uint8_t> roots = ReadBytes(Pki("old-root.pem")), rogue = ReadBytes(Pki("rogue-tsa.pem"));
    roots.insert(roots.end(), rogue.begin(), rogue.end());
    WriteBytes(both, roots);
    r = Fwpack({"verify", forged, "--trust", both});
    EXPECT_EQ(r.Code, 0) << r.Out;
    r = Fwpack({"inspect", forged, "--trust", both});
    EXPECT_TRUE(Contains(r.Out, "2020-01-15T00:00:00Z by CN=fwpack Rogue Time-Stamp Authority, used for the chain"))
        << r.Out;

    // A token over other bytes than this signature counts for nothing.
    const std::string moved = dir / "moved.exe";
    ASSERT_EQ(OsslSign(dir.path(), moved, {"-certs", Pki("lapsed.pem"), "-key", Pki("lapsed.key")}).Code, 0);
    AddToken(moved, Pki("rogue-tsa.pem"), Pki("rogue-tsa.key"), January2020(), false);
    r = Fwpack({"verify", moved, "--trust", both});
    EXPECT_EQ(r.Code, 1);
    EXPECT_TRUE(Contains(r.Out, "the time-stamp was made for a different signature")) << r.Out;
    EXPECT_TRUE(Contains(r.Out, "certificate has expired")) << r.Out;
}

// Grows the certificate table by extra bytes at its end; entryToo: the
// entry's own length grows with it.
void GrowTable(std::vector<uint8_t> &file, const std::vector<uint8_t> &extra, bool entryToo) {
    const SignatureSpan span = Span(file);
    file.insert(file.end(), extra.begin(), extra.end());
    PutU32(file.data() + span.EntryOffset + 4, uint32_t(span.TableSize + extra.size()));
    if (entryToo) PutU32(file.data() + span.TableOffset, uint32_t(span.TableSize + extra.size()));
}

TEST_F(Signing, NothingButTheSignatureAndItsPaddingMayStandInTheTable) {
    const std::vector<std::pair<std::function<void(std::vector<uint8_t> &)>, std::string>> cases = {
        {[](auto &f) { GrowTable(f, {16, 0, 0, 0, 0, 2, 2, 0, 'u', 'n', 's', 'i', 'g', 'n', 'e', 'd'}, false); },
         "the certificate table holds 2 entries; only one is signed"},
        {[](auto &f) { GrowTable(f, {'u', 'n', 's', 'i', 'g', 'n', 'e', 'd'}, true); },
         "bytes follow the signature inside its certificate table entry"},
        {[](auto &f) { GrowTable(f, {0, 0, 0, 0}, false); }, "the certificate table's last 4 bytes hold no entry"},
        {[](auto &f) { PutU16(f.data() + Span(f).TableOffset + 4, 0x0100); },
         "revision 0x0100 and type 0x0002; only revision 0x0200"},
        {[](auto &f) { PutU16(f.data() + Span(f).TableOffset + 6, 0x0001); }, "type 0x0001"},
    };
    for (const auto &[edit, says] : cases) {
        RunResult r = VerifyChanged(edit);
        EXPECT_EQ(r.Code, 1) << says;
        EXPECT_TRUE(Contains(r.Out, says)) << r.Out;
        EXPECT_FALSE(Contains(r.Out, "consistent")) << r.Out;
        r = Fwpack({"inspect", dir / "changed.exe"});
        EXPECT_TRUE(Contains(r.Out, says)) << r.Out;
    }
}

TEST_F(Signing, OnlyStrongImageDigestsAreAccepted) {
    for (const auto &[digest, says] : std::vector<std::pair<std::string, std::string>>{
             {"md5", "the image digest is MD5, too weak"}, {"sha1", "the image digest is SHA1, too weak"}}) {
        const std::string out = dir / (digest + ".exe");
        RunResult r = OsslSign(dir.path(), out, {"-h", digest, "-certs", Pki("chain.pem"), "-key", Pki("leaf.key")});
        ASSERT_EQ(r.Code, 0) << r.Err;
        r = Fwpack({"verify", out});
        EXPECT_EQ(r.Code, 1);
        EXPECT_TRUE(Contains(r.Out, says)) << r.Out;
        r = Fwpack({"inspect", out});
        EXPECT_FALSE(Contains(r.Out, "matches the file")) << r.Out;
    }
}

// Packages signed after the build by another signer: every field inspect
// shows is the signer's, and verify holds them to the same rules.
TEST_F(Signing, SignaturesFromAnotherSignerAreReadInFull) {
    TimestampAuthority tsa(Pki(""));
    ASSERT_NE(tsa.Port(), 0);
    const std::string file = dir / "other.exe";
    for (const std::string digest : {"sha256", "sha384"}) {
        for (const bool stamped : {false, true}) {
            std::vector<std::string> flags = {"-h", digest, "-certs", Pki("chain.pem"), "-key", Pki("leaf.key")};
            if (stamped) flags.insert(flags.end(), {"-ts", tsa.Url()});
            RunResult r = OsslSign(dir.path(), file, flags);
            ASSERT_EQ(r.Code, 0) << r.Err;
            r = Fwpack({"verify", file, "--trust", Pki("root.pem")});
            EXPECT_EQ(r.Code, 0) << digest << stamped << r.Out;
            r = Fwpack({"inspect", file, "--trust", Pki("root.pem")});
            EXPECT_TRUE(Contains(r.Out, "signer        O=Example Firmware,CN=fwpack Test Signer")) << r.Out;
            EXPECT_TRUE(Contains(r.Out, "issuer        CN=fwpack Test Intermediate")) << r.Out;
            EXPECT_TRUE(Contains(r.Out, "digest        " + digest + ", matches the file")) << r.Out;
            EXPECT_TRUE(Contains(r.Out, "verifies      yes")) << r.Out;
            EXPECT_TRUE(Contains(r.Out, "certificates  2")) << r.Out;
            EXPECT_TRUE(Contains(r.Out, "trusted       yes")) << r.Out;
            EXPECT_EQ(Contains(r.Out, "by CN=fwpack Test Time-Stamp Authority, used for the chain"), stamped) << r.Out;
            EXPECT_EQ(Contains(r.Out, "timestamp     none"), !stamped) << r.Out;
            std::remove(file.c_str());
        }
    }
    // A second signature nested in the first, as other signers add one: read
    // and held to the same rules.
    const std::string first = dir / "first.exe";
    ASSERT_EQ(OsslSign(dir.path(), first, {"-h", "sha256", "-certs", Pki("chain.pem"), "-key", Pki("leaf.key")}).Code, 0);
    for (const auto &[digest, says] : std::vector<std::pair<std::string, std::string>>{
             {"sha384", "nested 1      O=Example Firmware,CN=fwpack Test Signer, sha384 matches the file, "
                        "verifies, time-stamped "},
             {"sha1", "signature: nested 1: the image digest is SHA1, too weak"}}) {
        // The authority stamps only strong digests.
        const std::string ts = digest == "sha1" ? "" : tsa.Url();
        std::vector<std::string> args = {"osslsigncode", "sign", "-nest", "-h", digest, "-certs", Pki("chain.pem"),
                                         "-key", Pki("leaf.key"), "-in", first, "-out", file};
        if (!ts.empty()) args.insert(args.end(), {"-ts", ts});
        RunResult r = RunProgram(args);
        ASSERT_EQ(r.Code, 0) << r.Err;
        r = Fwpack({"inspect", file, "--trust", Pki("root.pem")});
        EXPECT_TRUE(Contains(r.Out, says)) << r.Out;
        EXPECT_TRUE(Contains(r.Out, "digest        sha256, matches the file")) << r.Out;
        r = Fwpack({"verify", file, "--trust", Pki("root.pem")});
        EXPECT_EQ(r.Code, digest == "sha1" ? 1 : 0) << r.Out;
        std::remove(file.c_str());
    }
}

TEST_F(Signing, OldPkcs12FilesLoadAndAFileWithoutMacIsNoWrongPassword) {
    ::setenv("FWPACK_SIGN_PASSWORD", kP12Password, 1);
    for (const auto &[name, flags] : std::vector<std::pair<std::string, std::vector<std::string>>>{
             {"rc2.p12", {"-legacy"}},   // RC2-40 and 3DES, as older systems export
             {"nomac.p12", {"-nomac"}}}) {
        const bool mac = name != "nomac.p12";
        std::vector<std::string> args = {"openssl", "pkcs12", "-export", "-inkey", Pki("leaf.key"), "-in",
                                         Pki("leaf.pem"), "-certfile", Pki("inter.pem"), "-passout",
                                         std::string("pass:") + kP12Password, "-out", dir / name};
        args.insert(args.end(), flags.begin(), flags.end());
        RunResult r = RunProgram(args);
        ASSERT_EQ(r.Code, 0) << r.Err;
        const std::string out = dir / (name + ".exe");
        r = BuildSigned(out, {"--sign-pkcs12", dir / name});
        EXPECT_EQ(r.Code, mac ? 0 : 2) << name << ": " << r.Err;
        if (mac) EXPECT_EQ(Fwpack({"verify", out, "--trust", Pki("root.pem")}).Code, 0) << name;
        else EXPECT_TRUE(Contains(r.Err, "has no integrity check (MAC)")) << r.Err;
        EXPECT_FALSE(Contains(r.Err, "wrong password")) << r.Err;
    }
    ::unsetenv("FWPACK_SIGN_PASSWORD");
}

}  // namespace
