// The package .exe writer against real MinGW-linked stubs
// (tests/fixtures/pe): round trip, the stub's own resources, the headers a
// loader checks, and the stubs it must refuse.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <tuple>

#include "payload/bytes.h"
#include "platform/builder_files.h"
#include "tools/fwpack/container/container.h"
#include "tools/fwpack/pe/image.h"
#include "tools/fwpack/container/pe_package.h"
#include "tools/fwpack/pe/resource_tree.h"

namespace fs = std::filesystem;
using namespace fwpack;

namespace {

std::vector<uint8_t> Fixture(const std::string &name) {
    std::vector<uint8_t> bytes;
    std::string error;
    EXPECT_TRUE(
        ReadWholeFile(std::string(FWPACK_SOURCE_DIR) + "/tests/fixtures/pe/" + name, bytes, error))
        << error;
    return bytes;
}

ResourceSet SampleSet(uint8_t seed = 1) {
    ResourceSet set;
    set[2000] = std::vector<uint8_t>(5000, uint8_t(seed));
    set[2001] = {};
    for (int i = 0; i < 200000; ++i) set[2001].push_back(uint8_t(i * 7 + seed));
    set[2002] = {uint8_t(seed)};  // one byte: alignment of what follows
    set[2003] = std::vector<uint8_t>(2488, uint8_t(seed + 1));
    set[2004] = std::vector<uint8_t>(333, uint8_t(seed + 2));
    return set;
}

std::vector<uint8_t> Build(const std::vector<uint8_t> &stub, const ResourceSet &set,
                           bool replace = false) {
    std::vector<uint8_t> out;
    std::string error;
    EXPECT_EQ(BuildPePackage(stub, set, replace, out, error), PeBuildError::None) << error;
    return out;
}

// The optional header's checksum written out plainly, apart from the
// writer's own routine: 16-bit words summed with end-around carry, the
// field itself as zero, plus the length.
uint32_t PlainChecksum(std::vector<uint8_t> file) {
    const size_t length = file.size();
    uint32_t pe = ReadU32(file.data() + 0x3c);
    std::fill_n(file.begin() + pe + 24 + 64, 4, 0);
    if (length % 2) file.push_back(0);
    uint64_t sum = 0;
    for (size_t i = 0; i < file.size(); i += 2) sum += ReadU16(file.data() + i);
    while (sum >> 16) sum = (sum & 0xffff) + (sum >> 16);
    return uint32_t(sum + length);
}

// (type, name, language) -> (bytes, code page) of every leaf.
using Leaves = std::map<std::tuple<std::string, std::string, std::string>,
                        std::pair<std::vector<uint8_t>, uint32_t>>;
Leaves AllLeaves(const std::vector<uint8_t> &file) {
    Leaves out;
    PeImage image;
    std::string error;
    EXPECT_EQ(ParsePeImage(file, image, error), PeError::None) << error;
    ResourceNode root;
    EXPECT_TRUE(ParseResourceTree(file, image, root, error)) << error;
    for (auto &[type, names] : root.Entries)
        for (auto &[name, langs] : names.Entries)
            for (auto &[lang, leaf] : langs.Entries)
                out[{type.Text(), name.Text(), lang.Text()}] = {leaf.Data, leaf.CodePage};
    return out;
}

PeImage Headers(const std::vector<uint8_t> &file) {
    PeImage image;
    std::string error;
    EXPECT_EQ(ParsePeImage(file, image, error), PeError::None) << error;
    return image;
}

size_t OptionalField(const std::vector<uint8_t> &file, size_t field) {
    return ReadU32(file.data() + 0x3c) + 24 + field;
}

class PePackageStubs : public ::testing::TestWithParam<const char *> {};

}  // namespace

TEST(PeChecksum, MatchesTheLinkersValue) {
    // GNU ld writes the checksum of the images it links.
    for (const char *name : {"stub_reloc.exe", "stub_last.exe", "stub_nores.exe"}) {
        std::vector<uint8_t> stub = Fixture(name);
        size_t at = OptionalField(stub, pe_opt::CheckSum);
        EXPECT_EQ(ComputePeChecksum(stub, at), ReadU32(stub.data() + at)) << name;
        EXPECT_EQ(PlainChecksum(stub), ReadU32(stub.data() + at)) << name;
    }
}

TEST_P(PePackageStubs, ResourcesReadBackAsWritten) {
    std::vector<uint8_t> package = Build(Fixture(GetParam()), SampleSet());
    ResourceSet back;
    std::string error;
    ASSERT_TRUE(ReadPeResources(package, back, error)) << error;
    EXPECT_EQ(back, SampleSet());
    std::vector<PeSetupResource> all;
    ASSERT_TRUE(ReadPeSetupResources(package, all, error)) << error;
    ASSERT_EQ(all.size(), 5u);
    for (const PeSetupResource &r : all) EXPECT_EQ(r.Language, 1033);
    EXPECT_TRUE(LooksLikePe(package));
}

TEST_P(PePackageStubs, StubResourcesSurviveByteForByte) {
    std::vector<uint8_t> stub = Fixture(GetParam());
    Leaves before = AllLeaves(stub), after = AllLeaves(Build(stub, SampleSet()));
    for (const auto &[key, value] : before) {
        auto it = after.find(key);
        ASSERT_NE(it, after.end()) << std::get<0>(key) << "/" << std::get<1>(key);
        EXPECT_EQ(it->second, value) << std::get<0>(key) << "/" << std::get<1>(key);
    }
    EXPECT_EQ(after.size(), before.size() + 5);
}

TEST_P(PePackageStubs, HeadersStayConsistent) {
    std::vector<uint8_t> stub = Fixture(GetParam());
    std::vector<uint8_t> package = Build(stub, SampleSet());
    PeImage in = Headers(stub), out = Headers(package);

    // Sections: ascending and back to back in memory, aligned in the file,
    // the resources in the last one.
    ASSERT_FALSE(out.Sections.empty());
    for (size_t i = 0; i < out.Sections.size(); ++i) {
        const PeSection &s = out.Sections[i];
        EXPECT_EQ(s.PointerToRawData % out.FileAlignment, 0u) << s.Name;
        EXPECT_EQ(s.SizeOfRawData % out.FileAlignment, 0u) << s.Name;
        EXPECT_LE(uint64_t(s.PointerToRawData) + s.SizeOfRawData, package.size()) << s.Name;
        if (i + 1 < out.Sections.size()) {
            EXPECT_EQ(out.Sections[i + 1].VirtualAddress,
                      AlignUp(s.VirtualAddress + s.VirtualSize, out.SectionAlignment))
                << s.Name;
        }
    }
    // In the file: headers, then the sections' data in order, then the
    // symbol table, if any.
    uint64_t rawEnd = out.SizeOfHeaders;
    for (const PeSection &s : out.Sections) {
        if (s.SizeOfRawData == 0) continue;
        EXPECT_GE(s.PointerToRawData, rawEnd) << s.Name;
        rawEnd = uint64_t(s.PointerToRawData) + s.SizeOfRawData;
    }
    if (out.PointerToSymbolTable != 0) {
        EXPECT_GE(out.PointerToSymbolTable, rawEnd);
    }

    const PeSection &rsrc = out.Sections.back();
    EXPECT_EQ(rsrc.Name, ".rsrc");
    EXPECT_EQ(out.Directories[kDirectoryResource].Rva, rsrc.VirtualAddress);
    EXPECT_EQ(out.Directories[kDirectoryResource].Size, rsrc.VirtualSize);
    EXPECT_EQ(ReadU32(package.data() + OptionalField(package, pe_opt::SizeOfImage)),
              AlignUp(rsrc.VirtualAddress + rsrc.VirtualSize, out.SectionAlignment));

    // Initialised data grows by exactly what the file's sections grew by.
    auto rawTotal = [](const PeImage &image) {
        uint64_t n = 0;
        for (const PeSection &s : image.Sections) n += s.SizeOfRawData;
        return n;
    };
    EXPECT_EQ(ReadU32(package.data() + OptionalField(package, pe_opt::SizeOfInitializedData)) -
                  ReadU32(stub.data() + OptionalField(stub, pe_opt::SizeOfInitializedData)),
              rawTotal(out) - rawTotal(in));

    EXPECT_EQ(ReadU32(package.data() + OptionalField(package, pe_opt::CheckSum)),
              PlainChecksum(package));

    // Every other section keeps its place and its bytes.
    for (const PeSection &s : in.Sections) {
        if (s.Name == ".rsrc") continue;
        auto it = std::find_if(out.Sections.begin(), out.Sections.end(),
                               [&](const PeSection &o) { return o.Name == s.Name; });
        ASSERT_NE(it, out.Sections.end()) << s.Name;
        EXPECT_EQ(it->VirtualAddress, s.VirtualAddress) << s.Name;
        EXPECT_TRUE(std::equal(stub.begin() + s.PointerToRawData,
                               stub.begin() + s.PointerToRawData + s.SizeOfRawData,
                               package.begin() + it->PointerToRawData))
            << s.Name;
    }

    // A COFF symbol table behind the sections moves along with them.
    if (in.PointerToSymbolTable != 0) {
        size_t length = stub.size() - in.PointerToSymbolTable;
        ASSERT_LE(uint64_t(out.PointerToSymbolTable) + length, package.size());
        EXPECT_TRUE(std::equal(stub.begin() + in.PointerToSymbolTable, stub.end(),
                               package.begin() + out.PointerToSymbolTable));
    }
}

TEST_P(PePackageStubs, RebuildingWithReplaceGivesTheSameFile) {
    std::vector<uint8_t> stub = Fixture(GetParam());
    std::vector<uint8_t> first = Build(stub, SampleSet(1));
    std::vector<uint8_t> other = Build(first, SampleSet(9), /*replace=*/true);
    EXPECT_EQ(Build(other, SampleSet(1), /*replace=*/true), first);
    ResourceSet back;
    std::string error;
    ASSERT_TRUE(ReadPeResources(other, back, error)) << error;
    EXPECT_EQ(back, SampleSet(9));
}

INSTANTIATE_TEST_SUITE_P(Stubs, PePackageStubs,
                         ::testing::Values("stub_reloc.exe", "stub_last.exe", "stub_nores.exe"));

TEST(PePackageLayout, ResourceSectionMovesBehindTheRelocations) {
    std::vector<uint8_t> stub = Fixture("stub_reloc.exe");
    PeImage out = Headers(Build(stub, SampleSet()));
    std::vector<std::string> names;
    for (const PeSection &s : out.Sections) names.push_back(s.Name);
    ASSERT_GE(names.size(), 3u);
    EXPECT_EQ(names[names.size() - 3], ".rsrcold");
    EXPECT_EQ(names[names.size() - 2], ".reloc");
    EXPECT_EQ(names.back(), ".rsrc");
}

TEST(PePackageLayout, ResourcesSharingAnotherSectionAreLeftWhereTheyAre) {
    // Resources inside a section that is not the resource section: that
    // section may hold more than the tree, so it is kept byte for byte and
    // the new tree goes into a section of its own.
    std::vector<uint8_t> stub = Fixture("stub_last.exe");
    PeImage in = Headers(stub);
    const PeSection &old = in.Sections.back();
    std::memcpy(stub.data() + old.HeaderOffset, ".rdata2\0", 8);
    std::vector<uint8_t> package = Build(stub, SampleSet());
    PeImage out = Headers(package);
    ASSERT_EQ(out.Sections.size(), in.Sections.size() + 1);
    EXPECT_EQ(out.Sections[out.Sections.size() - 2].Name, ".rdata2");
    EXPECT_EQ(out.Sections.back().Name, ".rsrc");
    EXPECT_TRUE(std::equal(stub.begin() + old.PointerToRawData, stub.begin() + old.PointerToRawData + old.SizeOfRawData,
                           package.begin() + out.Sections[out.Sections.size() - 2].PointerToRawData));
    Leaves before = AllLeaves(stub), after = AllLeaves(package);
    for (const auto &[key, value] : before) EXPECT_EQ(after[key], value) << std::get<0>(key);
}

TEST(PePackageLayout, RootDirectoryListsNamesSortedThenIds) {
    std::vector<uint8_t> package = Build(Fixture("stub_last.exe"), SampleSet());
    PeImage image = Headers(package);
    size_t base = 0, available = 0;
    ASSERT_TRUE(image.RvaToOffset(image.Directories[kDirectoryResource].Rva, base, available));
    const uint8_t *root = package.data() + base;
    uint16_t named = ReadU16(root + 12), ids = ReadU16(root + 14);
    std::vector<std::string> keys;
    for (int i = 0; i < named + ids; ++i) {
        uint32_t field = ReadU32(root + 16 + 8 * i);
        if (field & 0x80000000u) {
            const uint8_t *s = root + (field & 0x7fffffff);
            std::string name;
            for (int c = 0; c < ReadU16(s); ++c) name.push_back(char(ReadU16(s + 2 + 2 * c)));
            keys.push_back(name);
        } else {
            keys.push_back(std::to_string(field));
        }
    }
    EXPECT_EQ(named, 2);
    EXPECT_EQ(keys, (std::vector<std::string>{"ABC", "SETUP", "3", "5", "6", "14", "16", "24"}));
}

TEST(PeResourceKeys, NamesSortCaseInsensitivelyBeforeIds) {
    auto name = ResourceKey::FromName;
    auto id = ResourceKey::FromId;
    EXPECT_TRUE(ResourceKeyLess(name("abc"), name("ABD")));
    EXPECT_TRUE(ResourceKeyLess(name("AB"), name("abc")));
    // Upper-cased, 'a' is 'A' (0x41) and sorts before '_' (0x5f).
    EXPECT_TRUE(ResourceKeyLess(name("za"), name("Z_")));
    EXPECT_FALSE(ResourceKeyLess(name("Z_"), name("za")));
    EXPECT_FALSE(ResourceKeyLess(name("setup"), name("SETUP")));
    EXPECT_TRUE(SameResourceKey(name("setup"), name("SETUP")));
    EXPECT_TRUE(ResourceKeyLess(name("ZZZ"), id(1)));
    EXPECT_TRUE(ResourceKeyLess(id(3), id(24)));
    EXPECT_FALSE(SameResourceKey(id(5), name("5")));
}

// ---------------------------------------------------------------- refusals

namespace {

class PePackageRefusals : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::path(FWPACK_BINARY_DIR) / "test_tool_pe_package" /
               ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    std::string Put(const std::string &name, const std::vector<uint8_t> &bytes) {
        std::string error, path = (dir_ / name).string();
        EXPECT_TRUE(WriteFileAtomically(path, bytes, error)) << error;
        return path;
    }
    // Writes stub into a file, asks for a package and expects a refusal
    // whose message mentions what; no output file may appear.
    void ExpectRefused(const std::vector<uint8_t> &stub, const std::string &what,
                       bool replace = false) {
        std::string error, out = (dir_ / "package.exe").string();
        EXPECT_FALSE(WritePePackage(Put("stub.exe", stub), SampleSet(), out, replace, error));
        EXPECT_NE(error.find(what), std::string::npos) << error;
        EXPECT_FALSE(fs::exists(out));
        for (auto &entry : fs::directory_iterator(dir_))
            EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos)
                << entry.path();
    }
    fs::path dir_;
};

void SetMachine(std::vector<uint8_t> &file, uint16_t machine, uint16_t magic) {
    uint32_t pe = ReadU32(file.data() + 0x3c);
    PutU16(file.data() + pe + 4, machine);
    PutU16(file.data() + pe + 24, magic);
}

}  // namespace

TEST_F(PePackageRefusals, NotAPeFile) {
    std::string text = "#!/bin/sh\necho this is not a program for Windows\n";
    ExpectRefused(std::vector<uint8_t>(text.begin(), text.end()), "not a PE");
    std::vector<uint8_t> dosOnly = Fixture("stub_reloc.exe");
    PutU32(dosOnly.data() + 0x3c, 0x40);  // MZ header, no PE signature behind it
    ExpectRefused(dosOnly, "not a PE");
    EXPECT_FALSE(LooksLikePe(dosOnly));
}

TEST_F(PePackageRefusals, NotX86_64) {
    std::vector<uint8_t> i386 = Fixture("stub_reloc.exe");
    SetMachine(i386, 0x014c, 0x10b);
    ExpectRefused(i386, "x86_64");
    std::vector<uint8_t> arm64 = Fixture("stub_reloc.exe");
    SetMachine(arm64, 0xaa64, 0x20b);
    ExpectRefused(arm64, "x86_64");
}

TEST_F(PePackageRefusals, TruncatedStub) {
    std::vector<uint8_t> stub = Fixture("stub_reloc.exe");
    for (size_t keep : {stub.size() - 1, stub.size() / 2, size_t(0x100), size_t(0x30)}) {
        ExpectRefused(std::vector<uint8_t>(stub.begin(), stub.begin() + long(keep)), "");
    }
}

TEST_F(PePackageRefusals, StubThatAlreadyCarriesSetupResources) {
    std::vector<uint8_t> package = Build(Fixture("stub_reloc.exe"), SampleSet());
    ExpectRefused(package, "already carries SETUP");
    std::string error, out = (dir_ / "replaced.exe").string();
    EXPECT_TRUE(WritePePackage(Put("package.exe", package), SampleSet(4), out, true, error))
        << error;
    std::vector<uint8_t> written;
    ASSERT_TRUE(ReadWholeFile(out, written, error));
    ResourceSet back;
    ASSERT_TRUE(ReadPeResources(written, back, error)) << error;
    EXPECT_EQ(back, SampleSet(4));
    EXPECT_EQ(fs::status(out).permissions() & fs::perms::owner_exec, fs::perms::owner_exec);
}

TEST_F(PePackageRefusals, NoRoomForAnotherSectionHeader) {
    std::vector<uint8_t> stub = Fixture("stub_reloc.exe");
    PeImage image = Headers(stub);
    // Something that is not ours right behind the section table.
    stub[image.SectionTableOffset + image.Sections.size() * kSectionHeaderSize + 3] = 0x5a;
    ExpectRefused(stub, "no room");
}

TEST_F(PePackageRefusals, ExistingOutputIsLeftAloneOnFailure) {
    std::string error, out = Put("package.exe", {'o', 'l', 'd'});
    std::vector<uint8_t> i386 = Fixture("stub_last.exe");
    SetMachine(i386, 0x014c, 0x10b);
    EXPECT_FALSE(WritePePackage(Put("stub.exe", i386), SampleSet(), out, false, error));
    std::vector<uint8_t> kept;
    ASSERT_TRUE(ReadWholeFile(out, kept, error));
    EXPECT_EQ(kept, (std::vector<uint8_t>{'o', 'l', 'd'}));
}

// ---------------------------------------------------------------- hostile trees

namespace {

// File offset of the stub's resource directory.
size_t ResourceBase(const std::vector<uint8_t> &file) {
    PeImage image = Headers(file);
    size_t base = 0, available = 0;
    EXPECT_TRUE(image.RvaToOffset(image.Directories[kDirectoryResource].Rva, base, available));
    return base;
}

void ExpectDamagedTree(const std::vector<uint8_t> &file) {
    std::vector<uint8_t> out;
    std::string error;
    EXPECT_EQ(BuildPePackage(file, SampleSet(), false, out, error), PeBuildError::Damaged);
    EXPECT_NE(error.find("resource"), std::string::npos) << error;
    ResourceSet set;
    EXPECT_FALSE(ReadPeResources(file, set, error));
}

}  // namespace

TEST(PeResourceTree, RefusesDamagedTrees) {
    const std::vector<uint8_t> stub = Fixture("stub_last.exe");
    const size_t root = ResourceBase(stub);
    const size_t firstEntry = root + 16;

    std::vector<uint8_t> loop = stub;  // the first type points back at the root
    PutU32(loop.data() + firstEntry + 4, 0x80000000u);
    ExpectDamagedTree(loop);

    std::vector<uint8_t> farDir = stub;  // a directory past the section
    PutU32(farDir.data() + firstEntry + 4, 0x80000000u | 0x7ffffff0u);
    ExpectDamagedTree(farDir);

    std::vector<uint8_t> farName = stub;  // a name past the section
    PutU32(farName.data() + firstEntry, 0x80000000u | 0x00fffff0u);
    ExpectDamagedTree(farName);

    // Two root entries with one key: found by the sorted lookup, wherever
    // they stand.
    ASSERT_GE(ReadU16(stub.data() + root + 12) + ReadU16(stub.data() + root + 14), 3);
    for (size_t second : {1, 2}) {
        std::vector<uint8_t> twice = stub;
        PutU32(twice.data() + firstEntry + 8 * second, ReadU32(twice.data() + firstEntry));
        ExpectDamagedTree(twice);
        std::vector<PeSetupResource> all;
        std::string error;
        EXPECT_FALSE(ReadPeSetupResources(twice, all, error));
        EXPECT_NE(error.find("appears twice"), std::string::npos) << error;
    }

    std::vector<uint8_t> manyEntries = stub;  // more entries than the section holds
    PutU16(manyEntries.data() + root + 14, 0xffff);
    ExpectDamagedTree(manyEntries);

    // A data entry whose bytes lie outside the file: find the first leaf by
    // walking the first entry of each level.
    std::vector<uint8_t> farData = stub;
    size_t at = root;
    for (int level = 0; level < 3; ++level)
        at = root + (ReadU32(farData.data() + at + 16 + 4) & 0x7fffffff);
    PutU32(farData.data() + at + 4, 0x10000000u);
    ExpectDamagedTree(farData);
}
