// A real-mode DOS program put in front of a PE's headers: the DOS part is
// the program byte for byte, the PE part keeps every section, its resources,
// its symbol table and a valid header chain; what does not fit is refused.
#include <gtest/gtest.h>

#include <filesystem>

#include "payload/bytes.h"
#include "platform/builder_files.h"
#include "tools/fwpack/container/container.h"
#include "tools/fwpack/pe/dos_program.h"
#include "tools/fwpack/pe/image.h"
#include "tools/fwpack/container/pe_package.h"
#include "support/dos_package.h"
#include "test_tool_support.h"

using namespace fwpack;
using fwpack::test::DosProgram;

namespace {

std::vector<uint8_t> Fixture(const std::string &name) {
    std::vector<uint8_t> bytes;
    std::string error;
    EXPECT_TRUE(ReadWholeFile(std::string(FWPACK_SOURCE_DIR) + "/tests/fixtures/pe/" + name, bytes,
                              error))
        << error;
    return bytes;
}

PeImage Parse(const std::vector<uint8_t> &file) {
    PeImage image;
    std::string error;
    EXPECT_EQ(ParsePeImage(file, image, error), PeError::None) << error;
    return image;
}

std::vector<uint8_t> Raw(const std::vector<uint8_t> &file, uint32_t at, uint32_t size) {
    return {file.begin() + at, file.begin() + at + size};
}

std::vector<uint8_t> Insert(const std::vector<uint8_t> &pe, const std::vector<uint8_t> &dos) {
    std::vector<uint8_t> out;
    std::string error;
    EXPECT_TRUE(InsertDosProgram(pe, dos, out, error)) << error;
    return out;
}

// Every section's bytes and the symbol table are the same, at new offsets.
void ExpectSamePe(const std::vector<uint8_t> &before, const std::vector<uint8_t> &after) {
    PeImage a = Parse(before), b = Parse(after);
    ASSERT_EQ(a.Sections.size(), b.Sections.size());
    for (size_t i = 0; i < a.Sections.size(); ++i) {
        SCOPED_TRACE(a.Sections[i].Name);
        EXPECT_EQ(a.Sections[i].VirtualAddress, b.Sections[i].VirtualAddress);
        EXPECT_EQ(a.Sections[i].SizeOfRawData, b.Sections[i].SizeOfRawData);
        EXPECT_EQ(Raw(before, a.Sections[i].PointerToRawData, a.Sections[i].SizeOfRawData),
                  Raw(after, b.Sections[i].PointerToRawData, b.Sections[i].SizeOfRawData));
    }
    EXPECT_EQ(a.PointerToSymbolTable != 0, b.PointerToSymbolTable != 0);
    if (a.PointerToSymbolTable) {
        EXPECT_EQ(Raw(before, a.PointerToSymbolTable, 64), Raw(after, b.PointerToSymbolTable, 64));
    }
    EXPECT_LE(b.SizeOfHeaders, b.Sections.front().VirtualAddress);
    EXPECT_EQ(ReadU32(after.data() + b.OptionalOffset + pe_opt::CheckSum),
              ComputePeChecksum(after, b.OptionalOffset + pe_opt::CheckSum));
    ResourceSet ra, rb;
    std::string error;
    EXPECT_EQ(ReadPeResources(before, ra, error), ReadPeResources(after, rb, error));
    EXPECT_EQ(ra, rb);
}

}  // namespace

TEST(DosProgramInFrontOfPe, ProgramFirstThenThePeHeadersThenTheSections) {
    const std::vector<uint8_t> pe = Fixture("stub_roomy.exe");
    for (uint32_t size : {1001u, 24576u, 40000u}) {
        SCOPED_TRACE(size);
        const std::vector<uint8_t> dos = DosProgram(size, uint8_t(size));
        const std::vector<uint8_t> dual = Insert(pe, dos);
        ASSERT_GT(dual.size(), dos.size());
        // DOS loads exactly the program; Windows finds the PE headers.
        std::vector<uint8_t> front(dual.begin(), dual.begin() + dos.size());
        PutU32(front.data() + 0x3C, 0);
        EXPECT_EQ(front, dos);
        EXPECT_EQ(ReadU32(dual.data() + 0x3C), AlignUp(size, 8));
        DosProgramInfo info;
        std::string error;
        ASSERT_TRUE(ReadDosProgram(dual, Parse(dual).PeOffset, info, error)) << error;
        EXPECT_EQ(info.FileSize, size);
        EXPECT_EQ(info.MemorySize, size - 64 + 0x1000);
        EXPECT_FALSE(info.TakesAllMemory);
        ExpectSamePe(pe, dual);
    }
}

TEST(DosProgramInFrontOfPe, AProgramReplacesTheOneBeforeIt) {
    const std::vector<uint8_t> pe = Fixture("stub_roomy.exe");
    const std::vector<uint8_t> first = Insert(pe, DosProgram(30000, 1));
    const std::vector<uint8_t> dos = DosProgram(2000, 2);
    const std::vector<uint8_t> second = Insert(first, dos);
    EXPECT_TRUE(std::equal(dos.begin() + 0x40, dos.end(), second.begin() + 0x40));
    ExpectSamePe(pe, second);
    // The linker's own small stub is a DOS program too, one that declares
    // more bytes than it has before the PE headers and takes all memory.
    DosProgramInfo info;
    std::string error;
    EXPECT_TRUE(ReadDosProgram(pe, Parse(pe).PeOffset, info, error)) << error;
    EXPECT_TRUE(info.TakesAllMemory);
    EXPECT_TRUE(info.OverlapsPe);
    EXPECT_TRUE(ReadDosProgram(second, Parse(second).PeOffset, info, error)) << error;
    EXPECT_FALSE(info.OverlapsPe);
}

TEST(DosProgramInFrontOfPe, WhatCannotBeLaidOutIsRefused) {
    struct Case {
        std::vector<uint8_t> Pe, Dos;
        std::string Want;
    };
    std::vector<uint8_t> signedPe = Fixture("stub_roomy.exe");
    PeImage image = Parse(signedPe);
    PutU32(signedPe.data() + image.OptionalOffset + pe_opt::DataDirectories + 8 * kDirectorySecurity + 4,
           512);
    std::vector<uint8_t> shortDos = DosProgram(3000, 3);
    shortDos.resize(2900);
    std::vector<uint8_t> notMz = DosProgram(3000, 4);
    notMz[0] = 'X';
    const Case cases[] = {
        // The usual first section at 0x1000 leaves room for about 3 KiB.
        {Fixture("stub_reloc.exe"), DosProgram(8000, 5), "first section starts at 4096"},
        {Fixture("stub_roomy.exe"), DosProgram(70000, 6), "first section starts at 65536"},
        {signedPe, DosProgram(3000, 7), "signed"},
        {Fixture("stub_roomy.exe"), shortDos, "header says 3000 bytes, the file has 2900"},
        {Fixture("stub_roomy.exe"), notMz, "no MZ header"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.Want);
        std::vector<uint8_t> out;
        std::string error;
        EXPECT_FALSE(InsertDosProgram(c.Pe, c.Dos, out, error));
        EXPECT_NE(error.find(c.Want), std::string::npos) << error;
    }
    // A small program fits in front of the usual layout.
    ExpectSamePe(Fixture("stub_reloc.exe"), Insert(Fixture("stub_reloc.exe"), DosProgram(1500, 8)));
}

TEST(DosProgramInFrontOfPe, HeadersThatDoNotFitTheFileAreReported) {
    const std::vector<uint8_t> dual = Insert(Fixture("stub_roomy.exe"), DosProgram(5000, 9));
    struct Case {
        size_t At;
        uint16_t Value;
        std::string Want;
    };
    const Case cases[] = {
        {4, 3000, "header says 1535880 bytes, the file has"},  // pages past the end
        {2, 600, "600 bytes in the last"},
        {8, 2, "header of 32 bytes"},
        {8, 400, "header of 6400 bytes in a program of 5000"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.Want);
        std::vector<uint8_t> bad = dual;
        PutU16(bad.data() + c.At, c.Value);
        DosProgramInfo info;
        std::string error;
        EXPECT_FALSE(ReadDosProgram(bad, Parse(bad).PeOffset, info, error));
        EXPECT_NE(error.find(c.Want), std::string::npos) << error;
    }
}

TEST(DosProgramInFrontOfPe, FwpackBuildWritesADualModePackageThatInspectAndVerifyRead) {
    test::TempDir dir;
    const std::string stubs = std::string(FWPACK_SOURCE_DIR) + "/tests/fixtures/pe/";
    const std::string dos = dir / "DOSUPD.EXE", package = dir / "pkg.exe";
    std::string error;
    ASSERT_TRUE(WriteFileAtomically(dos, DosProgram(5000, 10), error)) << error;

    test::RunResult r = test::Fwpack({"build", test::SampleManifest(), "--stub",
                                      stubs + "stub_roomy.exe", "--dos-program", dos, "-o", package});
    ASSERT_EQ(r.Code, 0) << r.Err;
    r = test::Fwpack({"inspect", package});
    EXPECT_EQ(r.Code, 0);
    EXPECT_NE(r.Out.find("DOS program: 5000 bytes (header 64), 9032 bytes of memory, entry "
                         "0000:0000, stack 0000:FFF0\n"),
              std::string::npos)
        << r.Out;
    r = test::Fwpack({"verify", package});
    EXPECT_EQ(r.Code, 0) << r.Out;

    // A stub without room in front of its first section.
    r = test::Fwpack({"build", test::SampleManifest(), "--stub", stubs + "stub_reloc.exe",
                      "--dos-program", dos, "-o", dir / "other.exe"});
    EXPECT_EQ(r.Code, 2);
    ASSERT_EQ(r.ErrLines().size(), 1u) << r.Err;
    EXPECT_NE(r.Err.find("first section starts at 4096"), std::string::npos) << r.Err;
    r = test::Fwpack({"build", test::SampleManifest(), "--dos-stub", dos, "--dos-program", dos,
                      "-o", dir / "other.run"});
    EXPECT_EQ(r.Code, 2);
    EXPECT_NE(r.Err.find("--dos-program applies to --stub only"), std::string::npos) << r.Err;

    // verify reads the MZ header against the file.
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(ReadWholeFile(package, bytes, error));
    PutU16(bytes.data() + 4, 3000);
    ASSERT_TRUE(WriteFileAtomically(package, bytes, error));
    r = test::Fwpack({"verify", package});
    EXPECT_EQ(r.Code, 1);
    EXPECT_NE(r.Out.find("DOS program: its header says"), std::string::npos) << r.Out;
}

TEST(DosProgramInFrontOfPe, FwpackDosProgramGivesAWindowsProgramItsDosStubInPlace) {
    test::TempDir dir;
    const std::string stubs = std::string(FWPACK_SOURCE_DIR) + "/tests/fixtures/pe/";
    const std::string program = dir / "updater.exe", big = dir / "BIG.EXE", small = dir / "DOSUPD.EXE";
    std::string error;
    ASSERT_TRUE(WriteFileAtomically(program, Fixture("stub_roomy.exe"), error)) << error;
    ASSERT_TRUE(WriteFileAtomically(big, DosProgram(30000, 11), error)) << error;
    ASSERT_TRUE(WriteFileAtomically(small, DosProgram(3000, 12), error)) << error;

    // As a build runs it after every link: the program itself is rewritten,
    // and a second run replaces the first run's DOS program.
    for (const std::string &dos : {big, small}) {
        test::RunResult r = test::Fwpack({"dos-program", program, dos, "-o", program});
        ASSERT_EQ(r.Code, 0) << r.Err;
    }
    std::vector<uint8_t> written;
    ASSERT_TRUE(ReadWholeFile(program, written, error)) << error;
    EXPECT_EQ(written, Insert(Fixture("stub_roomy.exe"), DosProgram(3000, 12)));

    // Refused with one line, and nothing written.
    const std::string out = dir / "out.exe";
    test::RunResult r = test::Fwpack({"dos-program", stubs + "stub_reloc.exe", big, "-o", out});
    EXPECT_EQ(r.Code, 2);
    ASSERT_EQ(r.ErrLines().size(), 1u) << r.Err;
    EXPECT_NE(r.Err.find("first section starts at 4096"), std::string::npos) << r.Err;
    r = test::Fwpack({"dos-program", program, dir / "NONE.EXE", "-o", out});
    EXPECT_EQ(r.Code, 2);
    EXPECT_NE(r.Err.find("NONE.EXE"), std::string::npos) << r.Err;
    EXPECT_FALSE(std::filesystem::exists(out));
}
