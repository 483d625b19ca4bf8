// The Linux package container: the updater followed by its four tagged
// resources, laid out so that the updater's own scan finds each of them.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "payload/bytes.h"
#include "payload/tagged_resource.h"
#include "support/dos_package.h"
#include "support/test_files.h"
#include "tools/fwpack/container/container.h"

using namespace fwpack;
using namespace fwpack::test;

namespace {

std::vector<uint8_t> Stub(size_t size = 5000) {
    std::vector<uint8_t> stub = SampleBytes(size, 21);
    stub[0] = 0x7F, stub[1] = 'E', stub[2] = 'L', stub[3] = 'F';
    return stub;
}

struct Built {
    TempDir dir;
    std::string error;
    bool ok = false;
    std::vector<uint8_t> bytes;
};

void Build(Built &b, const std::vector<uint8_t> &stub, const ResourceSet &set) {
    WriteBytes(b.dir / "stub", stub);
    b.ok = WriteRunPackage(b.dir / "stub", set, b.dir / "package.run", b.error);
    b.bytes = ReadBytes(b.dir / "package.run");
}

}  // namespace

TEST(DosRunPackage, WritesStubThenResourcesThatReadBackUnchanged) {
    ResourceSet set = BuildDosResources(SampleDosPackage());
    set[ToolPackage] = {1, 2, 3};   // not part of a Linux package
    std::vector<uint8_t> stub = Stub();
    Built b;
    Build(b, stub, set);
    ASSERT_TRUE(b.ok) << b.error;
    EXPECT_TRUE(std::equal(stub.begin(), stub.end(), b.bytes.begin()));

    struct stat st {};
    ASSERT_EQ(::stat((b.dir / "package.run").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);

    ASSERT_TRUE(LooksLikeRunPackage(b.bytes));
    ResourceSet back;
    std::string error;
    ASSERT_TRUE(ReadRunPackage(b.bytes, back, error)) << error;
    set.erase(ToolPackage);
    EXPECT_EQ(back, set);

    ResourceSet viaContainer;
    ContainerKind kind{};
    ASSERT_TRUE(ReadContainer(b.dir / "package.run", viaContainer, kind, error)) << error;
    EXPECT_EQ(kind, ContainerKind::LinuxPackage);
    EXPECT_EQ(viaContainer, set);
}

TEST(DosRunPackage, TinyResourcesAreStillFoundBeforeTheLast20Bytes) {
    // Bodies so short that, written back to back, the updater would skip the
    // next tag (it steps one byte past a body) and miss the last one.
    ResourceSet set = BuildDosResources(SampleDosPackage());
    set[DosPackage] = MakeTaggedResource(DosPackage, {});
    set[MePackage] = MakeTaggedResource(MePackage, {0, 0, 0, 0});
    Built b;
    Build(b, Stub(33), set);
    ASSERT_TRUE(b.ok) << b.error;
    ResourceSet back;
    std::string error;
    ASSERT_TRUE(ReadRunPackage(b.bytes, back, error)) << error;
    EXPECT_EQ(back, set);
}

TEST(DosRunPackage, RefusesWhatTheUpdaterWouldMisread) {
    ResourceSet good = BuildDosResources(SampleDosPackage());
    {
        Built b;   // a stub that already holds a tag (a package as its own stub)
        std::vector<uint8_t> stub = Stub();
        std::string tag = ResourceTag(BiosPackage);
        std::copy(tag.begin(), tag.end(), stub.begin() + 100);
        Build(b, stub, good);
        EXPECT_FALSE(b.ok);
        EXPECT_NE(b.error.find("holds the tag of resource 2002"), std::string::npos) << b.error;
        EXPECT_TRUE(b.bytes.empty());
    }
    {
        Built b;
        ResourceSet set = good;
        set.erase(OptionResource);
        Build(b, Stub(), set);
        EXPECT_FALSE(b.ok);
        EXPECT_NE(b.error.find("2003 is missing"), std::string::npos) << b.error;
    }
    {
        Built b;   // a header whose BodyLength disagrees with the bytes
        ResourceSet set = good;
        PutU32(set[MePackage].data() + kTagLength, 5);
        Build(b, Stub(), set);
        EXPECT_FALSE(b.ok);
        EXPECT_NE(b.error.find("2004 has no valid tagged header"), std::string::npos) << b.error;
    }
    {
        Built b;   // the option block is scanned through: a tag in the id string
        DosPackageSpec spec = SampleDosPackage();
        spec.Options.IdString = "$FB" + ResourceTag(MePackage);
        Build(b, Stub(), BuildDosResources(spec));
        EXPECT_FALSE(b.ok);
        EXPECT_NE(b.error.find("tag text"), std::string::npos) << b.error;
        EXPECT_TRUE(b.bytes.empty());
    }
}

TEST(DosRunPackage, ReaderReportsMissingAndBrokenResources) {
    ResourceSet set = BuildDosResources(SampleDosPackage());
    Built b;
    Build(b, Stub(), set);
    ASSERT_TRUE(b.ok) << b.error;
    ResourceSet out;
    std::string error;

    const std::string meTag = ResourceTag(MePackage);
    size_t me = size_t(std::search(b.bytes.begin(), b.bytes.end(), meTag.begin(), meTag.end()) -
                       b.bytes.begin());
    ASSERT_LT(me, b.bytes.size());

    std::vector<uint8_t> cut(b.bytes.begin(), b.bytes.begin() + long(me) + 20);   // the tag at size - 20
    EXPECT_FALSE(ReadRunPackage(cut, out, error));
    EXPECT_NE(error.find("would not find resource(s) 2004"), std::string::npos) << error;

    std::vector<uint8_t> overlong = b.bytes;
    PutU32(overlong.data() + me + kTagLength, 1u << 30);
    EXPECT_FALSE(ReadRunPackage(overlong, out, error));
    EXPECT_NE(error.find("resource 2004 at " + std::to_string(me) + " declares"), std::string::npos)
        << error;

    EXPECT_FALSE(LooksLikeRunPackage(Stub()));   // no tags
    std::vector<uint8_t> notElf = b.bytes;
    notElf[0] = 'M';
    EXPECT_FALSE(LooksLikeRunPackage(notElf));
}
