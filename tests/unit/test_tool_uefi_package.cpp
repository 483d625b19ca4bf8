// UEFI packages: fwpack build --efi-stub appends the [uefi] tools, the
// images and the option block to an EFI application
// (tests/fixtures/efi/stub.efi) as a Linux package appends them; the
// updater's own tag scan finds them, inspect, verify and extract read them,
// the signature covers them, and every stub or manifest that cannot make
// such a package is refused with one line.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "payload/bytes.h"
#include "payload/tagged_resource.h"
#include "support/dos_scan.h"
#include "tools/fwpack/authenticode/table.h"
#include "tools/fwpack/container/container.h"
#include "tools/fwpack/inspect/payload_report.h"
#include "tools/fwpack/pe/image.h"
#include "test_tool_support.h"

using namespace fwpack;
using namespace fwpack::test;
namespace fs = std::filesystem;

namespace {

const std::string kEfiStub = std::string(FWPACK_SOURCE_DIR) + "/tests/fixtures/efi/stub.efi";

bool Contains(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
}

std::vector<uint8_t> Bytes(const std::string &text) { return {text.begin(), text.end()}; }

// Where the optional header starts in a PE file.
size_t OptionalOffset(const std::vector<uint8_t> &pe) { return ReadU32(pe.data() + 0x3c) + 24; }

// The first place of text in file at or after from, which must be there.
size_t Find(const std::vector<uint8_t> &file, const std::string &text, size_t from = 0) {
    auto at = std::search(file.begin() + long(from), file.end(), text.begin(), text.end());
    EXPECT_NE(at, file.end()) << text;
    return size_t(at - file.begin());
}

// A firmware's loader hashes a signed image the published way: the headers
// without the checksum and the certificate table's entry, the sections in
// file order, then the rest of the file up to the certificate table. Exit
// 0 when that digest (SHA-256) is the one the signature carries.
constexpr char kSectionWiseDigest[] = R"(
import hashlib, struct, sys
d = open(sys.argv[1], 'rb').read()
pe = struct.unpack_from('<I', d, 0x3c)[0]
sections, optional_size = struct.unpack_from('<H', d, pe + 6)[0], struct.unpack_from('<H', d, pe + 20)[0]
opt = pe + 24
headers = struct.unpack_from('<I', d, opt + 60)[0]
checksum, entry = opt + 64, opt + 112 + 8 * 4
table, table_size = struct.unpack_from('<II', d, entry)
h = hashlib.sha256(d[:checksum] + d[checksum + 4:entry] + d[entry + 8:headers])
stored = []
for i in range(sections):
    size, at = struct.unpack_from('<II', d, opt + optional_size + 40 * i + 16)
    if size:
        stored.append((at, size))
hashed = headers
for at, size in sorted(stored):
    h.update(d[at:at + size])
    hashed += size
h.update(d[hashed:len(d) - table_size])
sys.exit(0 if h.digest() in d[table:table + table_size] else 1)
)";

class UefiPackage : public ::testing::Test {
  protected:
    TempDir dir;
    std::string sample, manifest, out;

    // The sample package with a [uefi] section of three tools.
    void SetUp() override {
        sample = dir / "sample";
        manifest = sample + "/package.toml";
        out = dir / "PKG.EFI";
        fs::copy(std::string(FWPACK_SOURCE_DIR) + "/examples/sample", sample, fs::copy_options::recursive);
        fs::create_directory(sample + "/efi");
        WriteBytes(sample + "/efi/EFIFLASH.EFI", Bytes("efi flash program"));
        WriteBytes(sample + "/efi/MEINFO.EFI", Bytes("me information tool"));
        WriteBytes(sample + "/efi/meupd.nsh", Bytes("echo me update\r\n"));
        UefiSection("EFIFLASH.EFI");
    }

    // Rewrites the manifest as the sample's without its [uefi] section.
    void SampleWithoutUefi() {
        std::ifstream in(std::string(FWPACK_SOURCE_DIR) + "/examples/sample/package.toml");
        std::ofstream kept(manifest, std::ios::trunc);
        bool inUefi = false;
        for (std::string line; std::getline(in, line);) {
            if (line.starts_with("[")) inUefi = line.starts_with("[uefi]");
            if (!inUefi) kept << line << "\n";
        }
    }

    // Rewrites the manifest: the sample's, with a [uefi] section that has
    // flash as its flash program.
    void UefiSection(const std::string &flash) {
        SampleWithoutUefi();
        std::ofstream(manifest, std::ios::app) << "\n[uefi]\ntools = \"efi\"\nflash_program = \"" << flash
                                               << "\"\nme_query_tool = \"MEINFO.EFI\"\n"
                                                  "me_update_tool = \"meupd.nsh\"\n";
    }

    RunResult Build(const std::string &stub, std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {"build", manifest, "--efi-stub", stub, "-o", out};
        args.insert(args.end(), extra.begin(), extra.end());
        return Fwpack(args);
    }

    // A copy of the fixture stub with the 16-bit field at offset changed.
    std::string PatchedStub(size_t offset, uint16_t value) {
        std::vector<uint8_t> stub = ReadBytes(kEfiStub);
        PutU16(stub.data() + offset, value);
        const std::string path = dir / ("patched-" + std::to_string(offset) + ".efi");
        WriteBytes(path, stub);
        return path;
    }

    // The build fails with one line holding text and writes nothing.
    void ExpectRefused(const RunResult &r, const std::string &text) {
        EXPECT_EQ(r.Code, 2) << r.Out;
        ASSERT_EQ(r.ErrLines().size(), 1u) << r.Err;
        EXPECT_TRUE(Contains(r.Err, text)) << r.Err;
        EXPECT_FALSE(fs::exists(out));
    }
};

TEST_F(UefiPackage, TheStubIsFollowedByTheUefiToolsImagesAndOptionsTheUpdaterFinds) {
    RunResult r = Build(kEfiStub);
    ASSERT_EQ(r.Code, 0) << r.Err;
    const std::vector<uint8_t> stub = ReadBytes(kEfiStub), file = ReadBytes(out);

    // The application itself is unchanged but for its checksum, which now
    // covers the whole file.
    const size_t checksumAt = OptionalOffset(stub) + pe_opt::CheckSum;
    ASSERT_GT(file.size(), stub.size());
    std::vector<uint8_t> head(file.begin(), file.begin() + long(stub.size()));
    EXPECT_EQ(ReadU32(head.data() + checksumAt), ComputePeChecksum(file, checksumAt));
    PutU32(head.data() + checksumAt, ReadU32(stub.data() + checksumAt));
    EXPECT_EQ(head, stub);

    ResourceSet set;
    ContainerKind kind;
    std::string error;
    ASSERT_TRUE(ReadContainer(out, set, kind, error)) << error;
    EXPECT_EQ(kind, ContainerKind::UefiPackage);
    EXPECT_EQ(DosScanFinds(out, set), (std::vector<uint16_t>{2000, 2002, 2003, 2004}));
    const PayloadReport report = AnalyzePayload(set, kind);
    std::vector<std::string> tools;
    for (const RecordReport &rec : report.Get(DosPackage).Records) tools.push_back(rec.Record.FileName);
    EXPECT_EQ(tools, (std::vector<std::string>{"EFIFLASH.EFI", "MEINFO.EFI", "meupd.nsh"}));
    const OptionBlock &o = report.Get(OptionResource).Options;
    EXPECT_EQ(o.DosFlashProgram, "EFIFLASH.EFI");
    EXPECT_EQ(o.DosMeQueryTool, "MEINFO.EFI");
    EXPECT_EQ(o.DosMeUpdateTool, "meupd.nsh");

    r = Fwpack({"verify", out});
    EXPECT_EQ(r.Code, 0) << r.Out;
    r = Fwpack({"inspect", out});
    EXPECT_EQ(r.OutLines().at(0), "UEFI package " + out);
    EXPECT_TRUE(Contains(r.Out, "2001 ToolPackage: not carried by this container")) << r.Out;
    EXPECT_TRUE(Contains(Fwpack({"inspect", "--json", out}).Out, "\"container\": \"UEFI package\""));
    ASSERT_EQ(Fwpack({"extract", out, dir / "x"}).Code, 0);
    EXPECT_EQ(ReadBytes(dir / "x/DosPackage/meupd.nsh"), ReadBytes(sample + "/efi/meupd.nsh"));

    // An option block whose tool the shell would not run is verify's finding.
    std::vector<uint8_t> changed = file;
    const size_t at = Find(changed, "meupd.nsh", Find(changed, ResourceTag(OptionResource)));
    std::copy_n("meupd.txt", 9, changed.begin() + long(at));
    WriteBytes(dir / "changed.efi", changed);
    r = Fwpack({"verify", dir / "changed.efi"});
    EXPECT_EQ(r.Code, 1);
    EXPECT_TRUE(Contains(r.Out, "2003 OptionBlock: DosMeUpdateTool \"meupd.txt\" is not a program "
                                "the UEFI shell runs"))
        << r.Out;
}

TEST_F(UefiPackage, StubsAndManifestsThatMakeNoUefiPackageAreRefusedWithOneLine) {
    const size_t opt = OptionalOffset(ReadBytes(kEfiStub));
    ExpectRefused(Build(manifest), "EFI stub " + manifest + ": not a PE executable");
    ExpectRefused(Build(PatchedStub(opt + pe_opt::Subsystem, 3)), "subsystem 3, not 10 (EFI application)");
    ExpectRefused(Build(PatchedStub(opt - 20, 0x14c)), "not an x86_64 PE32+ executable (machine 0x014c");
    // With a gap before the first section a loader that hashes section by
    // section would not get the digest the builder signs.
    ExpectRefused(Build(PatchedStub(opt + pe_opt::SizeOfHeaders, 0x200)),
                  "layout: section .text's data start at file offset 1024, not at 512");
    ExpectRefused(Fwpack({"build", manifest, "--efi-stub", kEfiStub, "--stub", kEfiStub, "-o", out}),
                  "exactly one of --stub (Windows package), --dos-stub (Linux package) and --efi-stub");
    ExpectRefused(Fwpack({"build", manifest, "--efi-stub", kEfiStub, "--dos-stub", kEfiStub, "-o", out}),
                  "exactly one of");
    ExpectRefused(Fwpack({"build", manifest, "--stub", kEfiStub, "-o", out}),
                  "stub " + kEfiStub + " is an EFI application (subsystem 10); a UEFI package is made "
                  "with --efi-stub");
    ExpectRefused(Fwpack({"build", manifest, "--dos-stub", kEfiStub, "-o", out}),
                  "DOS stub " + kEfiStub + " is an EFI application");
    ExpectRefused(Build(kEfiStub, {"--replace"}), "--replace applies to --stub only");
    ExpectRefused(Build(kEfiStub, {"--dos-program", kEfiStub}), "--dos-program applies to --stub only");
    ExpectRefused(Fwpack({"build", manifest, "--efi-stub", kEfiStub, "--resources-dir", dir / "r"}),
                  "--efi-stub need -o FILE");

    // A package is no stub: the updater would find the old resources first.
    ASSERT_EQ(Build(kEfiStub).Code, 0);
    const std::string package = dir / "package.efi";
    fs::rename(out, package);
    ExpectRefused(Build(package), "holds the tag of resource 2000");

    SampleWithoutUefi();
    ExpectRefused(Build(kEfiStub),
                  "[uefi]: a UEFI package (--efi-stub) needs a [uefi] section");
    UefiSection("EFIFLASH.EXE");
    ExpectRefused(Build(kEfiStub), "uefi.flash_program: \"EFIFLASH.EXE\" is not a program the UEFI shell runs");
    UefiSection("EFIFLASH.EFI");
    WriteBytes(sample + "/efi/LONGNAME1.EFI", Bytes("x"));
    ExpectRefused(Build(kEfiStub), "uefi.tools: file name \"LONGNAME1.EFI\" is");
    fs::remove(sample + "/efi/LONGNAME1.EFI");
    WriteBytes(sample + "/efi/BIOS.BIN", Bytes("x"));
    ExpectRefused(Build(kEfiStub), "names the same DOS file as \"BIOS.BIN\"");
    fs::remove(sample + "/efi/BIOS.BIN");
    // The updater writes and removes its script runner beside the tools.
    WriteBytes(sample + "/efi/fwpkrun.nsh", Bytes("x"));
    ExpectRefused(Build(kEfiStub), "fwpkrun.nsh");
    fs::remove(sample + "/efi/fwpkrun.nsh");
    for (const char *name : {"A.EFI", "B.EFI", "C.EFI"}) WriteBytes(sample + "/efi/" + name, Bytes("x"));
    ExpectRefused(Build(kEfiStub), "uefi.tools: " + sample + "/efi holds 6 files; the DOS updater takes at most 5");
}

TEST_F(UefiPackage, TheSignatureCoversTheAppendedResourcesAndItsTableComesLast) {
    TempDir pki;
    RunResult r = RunProgram({std::string(FWPACK_SOURCE_DIR) + "/tests/signing/make_pki.sh", pki.path()});
    ASSERT_EQ(r.Code, 0) << r.Err;
    r = Build(kEfiStub, {"--sign-cert", pki / "chain.pem", "--sign-key", pki / "leaf.key"});
    ASSERT_EQ(r.Code, 0) << r.Err;
    r = Fwpack({"verify", out, "--trust", pki / "root.pem", "--require-signature"});
    EXPECT_EQ(r.Code, 0) << r.Out << r.Err;
    r = RunProgram({"osslsigncode", "verify", "-in", out, "-CAfile", pki / "root.pem"});
    EXPECT_EQ(r.Code, 0) << r.Out << r.Err;
    r = RunProgram({"python3", "-c", kSectionWiseDigest, out});
    EXPECT_EQ(r.Code, 0) << r.Err;

    const std::vector<uint8_t> file = ReadBytes(out);
    SignatureSpan span;
    std::string error;
    ASSERT_TRUE(LocateSignature(file, span, error)) << error;
    ResourceSet set;
    ContainerKind kind;
    ASSERT_TRUE(ReadContainer(out, set, kind, error)) << error;
    const std::vector<uint8_t> &me = set.at(MePackage);
    const size_t meAt = size_t(std::search(file.begin(), file.end(), me.begin(), me.end()) - file.begin());
    EXPECT_GT(span.TableOffset, meAt + me.size());
    EXPECT_EQ(size_t(span.TableOffset) + span.TableSize, file.size());
    EXPECT_EQ(DosScanFinds(out, set), (std::vector<uint16_t>{2000, 2002, 2003, 2004}));

    // One byte of the option block's id text, which no payload check sees.
    std::vector<uint8_t> changed = file;
    changed[Find(changed, "$FB$SAMPLE$", Find(changed, ResourceTag(OptionResource))) + 4] ^= 0x20;
    WriteBytes(dir / "changed.efi", changed);
    EXPECT_EQ(RunProgram({"python3", "-c", kSectionWiseDigest, dir / "changed.efi"}).Code, 1);
    r = Fwpack({"verify", dir / "changed.efi"});
    EXPECT_EQ(r.Code, 1);
    ASSERT_EQ(r.OutLines().size(), 1u) << r.Out;
    EXPECT_TRUE(Contains(r.Out, "differs from the signed digest")) << r.Out;

    // Bytes behind the table are outside the signature: no reader takes them.
    std::vector<uint8_t> longer = file;
    longer.insert(longer.end(), 8, 0);
    WriteBytes(dir / "longer.efi", longer);
    r = Fwpack({"inspect", dir / "longer.efi"});
    EXPECT_EQ(r.Code, 2);
    EXPECT_TRUE(Contains(r.Err, "UEFI package: the certificate table at " + std::to_string(span.TableOffset) +
                                    " (" + std::to_string(span.TableSize) + " bytes) is not the last bytes"))
        << r.Err;
}

}  // namespace
