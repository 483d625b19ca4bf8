// The payload layouts: checksum rule, file packages (good and malformed),
// the option block and its loader, and the tagged header.
#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "dialog/load_option_block.h"
#include "payload/bytes.h"
#include "payload/checksum16.h"
#include "payload/file_package.h"
#include "payload/option_block.h"
#include "payload/tagged_resource.h"
#include "platform/resources.h"
#include "support/test_files.h"

using namespace fwpack;

namespace {

uint16_t NaiveSum(const std::vector<uint8_t> &v) {
    uint32_t s = 0;
    for (uint8_t b : v) s += b;
    return uint16_t(s);
}

PackageFile File(const std::string &name, std::vector<uint8_t> bytes) {
    PackageFile f;
    f.Record.FileName = name;
    f.Record.CreationTime = 0x01D0000011112222ull;
    f.Record.LastAccessTime = 0x01D0000033334444ull;
    f.Record.LastWriteTime = 0x01D0000055556666ull;
    f.Bytes = std::move(bytes);
    return f;
}

class MapSource : public ResourceSource {
  public:
    std::map<uint16_t, std::vector<uint8_t>> res;
    std::span<const uint8_t> SetupResource(uint16_t id) const override {
        auto it = res.find(id);
        if (it == res.end()) return {};
        return {it->second.data(), it->second.size()};
    }
};

}  // namespace

TEST(Checksum16, KnownValuesAndWrap) {
    const uint8_t abc[] = {'a', 'b', 'c'};
    EXPECT_EQ(Checksum16(abc, 3), 0x0126);
    EXPECT_EQ(Checksum16(nullptr, 0), 0);
    EXPECT_EQ(Checksum16(std::vector<uint8_t>(257, 0xFF).data(), 257), 0xFFFF);
    EXPECT_EQ(Checksum16(std::vector<uint8_t>(258, 0xFF).data(), 258), 0x00FE);
}

TEST(Checksum16, VectorPathMatchesByteSumAtEveryLengthAndOffset) {
    const auto data = test::SampleBytes(4096 + 64, 7);
    for (size_t off = 0; off < 17; ++off)
        for (size_t len : {0, 1, 15, 16, 17, 31, 33, 255, 1000, 4096}) {
            std::vector<uint8_t> part(data.begin() + long(off), data.begin() + long(off + len));
            ASSERT_EQ(Checksum16(data.data() + off, len), NaiveSum(part)) << off << "/" << len;
        }
    // Running form over pieces equals the whole.
    uint32_t run = Checksum16Add(0, data.data(), 100);
    run = Checksum16Add(run, data.data() + 100, data.size() - 100);
    EXPECT_EQ(uint16_t(run), Checksum16(data.data(), data.size()));
}

TEST(FilePackage, LayoutOfEmptyAndOneFilePackages) {
    EXPECT_EQ(BuildFilePackage({}).size(), 4u);
    const auto pkg = BuildFilePackage({File("tool.exe", std::vector<uint8_t>(10, 'x'))});
    ASSERT_EQ(pkg.size(), 314u);
    FilePackageView view;
    ASSERT_EQ(ParseFilePackage(pkg.data(), pkg.size(), view), PackageError::None);
    ASSERT_EQ(view.Count, 1u);
    EXPECT_EQ(view.Offsets[0], 304u);
    EXPECT_EQ(view.Records[0].Size, 10u);
    EXPECT_EQ(view.Records[0].Checksum, uint32_t('x') * 10);
    EXPECT_EQ(view.Records[0].FileName, "tool.exe");
    EXPECT_EQ(view.Records[0].LastWriteTime, 0x01D0000055556666ull);
    // Byte positions of the record fields.
    EXPECT_EQ(ReadU32(pkg.data() + 4 + record_offset::Size), 10u);
    EXPECT_EQ(ReadU64(pkg.data() + 4 + record_offset::CreationTime), 0x01D0000011112222ull);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(pkg.data() + 4 + 40)), "tool.exe");
}

TEST(FilePackage, FilesFollowTheTableInRecordOrder) {
    const auto pkg = BuildFilePackage({File("a", {1, 2, 3}), File("b", {}), File("c", {9, 9})});
    FilePackageView view;
    ASSERT_EQ(ParseFilePackage(pkg.data(), pkg.size(), view), PackageError::None);
    EXPECT_EQ(view.Offsets, (std::vector<size_t>{904, 907, 907}));
    EXPECT_EQ(view.Records[2].Index, 2u);
    EXPECT_EQ(view.Data[view.Offsets[2] + 1], 9);
}

TEST(FilePackage, MalformedPackagesAreRefusedWithoutReadingPastTheEnd) {
    auto good = BuildFilePackage({File("a.bin", {1, 2, 3, 4}), File("b.bin", {5, 6})});
    FilePackageView view;
    long bad = 0;

    EXPECT_EQ(ParseFilePackage(good.data(), 3, view), PackageError::TooShort);

    // A count whose table runs past the end, including one where count x 300
    // would overflow 32 bits.
    for (uint32_t count : {3u, 0x00DA740Eu, 0xFFFFFFFFu}) {
        auto p = good;
        PutU32(p.data(), count);
        EXPECT_EQ(ParseFilePackage(p.data(), p.size(), view), PackageError::TableOverflow) << count;
    }

    // A Size that runs past the end, at the second record.
    auto p = good;
    PutU32(p.data() + 4 + 300 + record_offset::Size, 3);
    EXPECT_EQ(ParseFilePackage(p.data(), p.size(), view, {}, &bad), PackageError::SizePastEnd);
    EXPECT_EQ(bad, 1);
    PutU32(p.data() + 4 + 300 + record_offset::Size, 0xFFFFFFFFu);
    EXPECT_EQ(ParseFilePackage(p.data(), p.size(), view), PackageError::SizePastEnd);

    // A FileName with no NUL in its 260 bytes.
    p = good;
    std::memset(p.data() + 4 + record_offset::FileName, 'n', kFileNameSize);
    EXPECT_EQ(ParseFilePackage(p.data(), p.size(), view, {}, &bad), PackageError::NameNotTerminated);
    EXPECT_EQ(bad, 0);

    // Bytes after the last file.
    p = good;
    p.push_back(0);
    EXPECT_EQ(ParseFilePackage(p.data(), p.size(), view), PackageError::TrailingBytes);
    EXPECT_EQ(ParseFilePackage(p.data(), p.size(), view, {.AllowTrailingBytes = true}), PackageError::None);
}

TEST(FilePackage, NamesThatWouldLeaveTheirFolderAreRefused) {
    for (const char *name : {"", ".", "..", "..\\x", "C:\\x", "sub/x", "a:b", "dir\\"}) {
        EXPECT_FALSE(IsBareFileName(name)) << name;
        const auto pkg = BuildFilePackage({File(name, {1})});
        FilePackageView view;
        EXPECT_EQ(ParseFilePackage(pkg.data(), pkg.size(), view), PackageError::NameNotBare) << name;
        EXPECT_EQ(ParseFilePackage(pkg.data(), pkg.size(), view, {.RequireBareNames = false}),
                  PackageError::None);
    }
    for (const char *name : {"flash.exe", "..x", "a.b.c", "x..", "name with spaces"})
        EXPECT_TRUE(IsBareFileName(name)) << name;
}

TEST(OptionBlock, SerializeParseRoundTripAndFieldOffsets) {
    OptionBlock ob;
    ob.Flags = 0x20023;
    ob.FlashProgram = "flash.exe";
    ob.DosFlashProgram = "dflash.exe";
    ob.BiosImageName = "bios.bin";
    ob.IdString = "$FB$X$A05$$$BOARD$";
    ob.MeFlashProgram = "meflash.exe";
    ob.MeImageName = "me.bin";
    ob.DosMeQueryTool = "meinfo.exe";
    ob.DosMeUpdateTool = "meupd.exe";
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(SerializeOptionBlock(ob, bytes));
    ASSERT_EQ(bytes.size(), kOptionBlockSize);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(bytes.data() + 1044)), "bios.bin");
    EXPECT_EQ(std::string(reinterpret_cast<char *>(bytes.data() + 2212)), "meupd.exe");
    OptionBlock back;
    ASSERT_TRUE(ParseOptionBlock(bytes.data(), bytes.size(), back));
    EXPECT_EQ(back.Flags, 0x20023u);
    EXPECT_EQ(back.IdString, ob.IdString);
    EXPECT_EQ(back.DosMeQueryTool, "meinfo.exe");

    std::string field;
    ob.IdString = std::string(128, '$');   // 128 characters leave no room for the NUL
    EXPECT_FALSE(SerializeOptionBlock(ob, bytes, &field));
    EXPECT_EQ(field, "IdString");
}

TEST(OptionBlock, LoaderCopiesTheFirst1952BodyBytesWhateverTheHeader) {
    OptionBlock ob;
    ob.Flags = 0x43;
    ob.FlashProgram = "flash.exe";
    ob.BiosImageName = "bios.bin";
    ob.MeImageName = "me.bin";
    ob.DosMeQueryTool = "meinfo.exe";
    std::vector<uint8_t> body;
    ASSERT_TRUE(SerializeOptionBlock(ob, body));
    MapSource src;
    src.res[OptionResource] = MakeTaggedResource(OptionResource, body);
    std::memcpy(src.res[OptionResource].data(), "WRONG TAG!!!", 12);   // tag and length
    PutU32(src.res[OptionResource].data() + 12, 7);                   // are not examined

    ProgramOptionCopy copy;
    EXPECT_EQ(LoadOptionBlock(src, copy), 0x43u);
    EXPECT_EQ(copy.FlashProgram(), "flash.exe");
    EXPECT_EQ(copy.MeImageName(), "me.bin");
    EXPECT_EQ(copy.IdString(), "");
    // Bytes after 1952 (the DOS-only fields) never reach the copy.
    auto &res = src.res[OptionResource];
    std::memset(res.data() + 16 + kProgramOptionSize, 'Z', kOptionBlockSize - kProgramOptionSize);
    ProgramOptionCopy copy2;
    LoadOptionBlock(src, copy2);
    EXPECT_EQ(copy.Bytes, copy2.Bytes);
}

TEST(OptionBlock, MissingEmptyOrShortResources) {
    MapSource src;
    ProgramOptionCopy copy;
    copy.Bytes[5] = 'q';   // untouched when the resource is missing
    EXPECT_EQ(LoadOptionBlock(src, copy), 0u);
    EXPECT_EQ(copy.Bytes[5], 'q');
    src.res[OptionResource] = std::vector<uint8_t>(16, 0xAA);   // header only
    EXPECT_EQ(LoadOptionBlock(src, copy), 0u);
    EXPECT_EQ(copy.Bytes[5], 'q');

    // A short body: what is there is copied, the rest reads as empty.
    std::vector<uint8_t> body(200, 0);
    PutU32(body.data(), 2);
    std::memcpy(body.data() + 4, "flash.exe", 9);
    src.res[OptionResource] = MakeTaggedResource(OptionResource, body);
    ProgramOptionCopy fresh;
    EXPECT_EQ(LoadOptionBlock(src, fresh), 2u);
    EXPECT_EQ(fresh.FlashProgram(), "flash.exe");
    EXPECT_EQ(fresh.MeImageName(), "");

    // A name field without a NUL stops at its field's end.
    std::vector<uint8_t> full(kOptionBlockSize, 'a');
    src.res[OptionResource] = MakeTaggedResource(OptionResource, full);
    EXPECT_EQ(LoadOptionBlock(src, fresh), ReadU32(full.data()));
    EXPECT_EQ(fresh.FlashProgram().size(), kNameFieldSize);
    EXPECT_EQ(fresh.IdString().size(), kIdStringSize);
}

TEST(TaggedResource, TagsHeaderAndLookup) {
    EXPECT_EQ(ResourceTag(DosPackage), "$_DOS__EXE_$");
    EXPECT_EQ(ResourceTag(BiosPackage), "$_BIN_FILE_$");
    EXPECT_EQ(ResourceTag(OptionResource), "$__OPTION__$");
    EXPECT_EQ(ResourceTag(MePackage), "$_ME__FILE_$");
    EXPECT_EQ(ResourceTag(ToolPackage), "");
    const auto res = MakeTaggedResource(MePackage, {1, 2, 3});
    ASSERT_EQ(res.size(), 19u);
    EXPECT_EQ(ResourceIdForTag(res.data(), res.size(), 0), MePackage);
    TaggedResource t;
    ASSERT_TRUE(ParseTaggedResource(res.data(), res.size(), t));
    EXPECT_EQ(t.BodyLength, 3u);
    EXPECT_EQ(t.BodySize, 3u);
    EXPECT_EQ(t.Body[2], 3);
    EXPECT_FALSE(ParseTaggedResource(res.data(), 15, t));
    const uint8_t other[12] = {'$', '_', 'D', 'O', 'S', '_', '_', 'E', 'X', 'E', '_', '#'};
    EXPECT_EQ(ResourceIdForTag(other, sizeof other, 0), 0);
}

TEST(BoundedReads, FailAtTheEndPastTheEndAndOnWrappingOffsets) {
    const uint8_t b[8] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
    uint16_t u16 = 7;
    uint32_t u32 = 7;
    uint64_t u64 = 7;
    EXPECT_TRUE(ReadU32(b, 8, 4, u32));
    EXPECT_EQ(u32, 0x88776655u);
    EXPECT_TRUE(ReadU16(b, 8, 6, u16));
    EXPECT_EQ(u16, 0x8877);
    EXPECT_TRUE(ReadU64(b, 8, 0, u64));
    EXPECT_EQ(u64, 0x8877665544332211ull);
    // At the end, one byte short, and offsets that wrap when the width is added.
    u32 = 7;
    for (size_t offset : {size_t(8), size_t(5), size_t(9), SIZE_MAX, SIZE_MAX - 2})
        EXPECT_FALSE(ReadU32(b, 8, offset, u32)) << offset;
    EXPECT_EQ(u32, 7u);  // untouched
    EXPECT_FALSE(ReadU16(b, 8, 7, u16));
    EXPECT_FALSE(ReadU64(b, 8, 1, u64));
    EXPECT_FALSE(ReadU32(nullptr, 8, 0, u32));
    EXPECT_FALSE(ReadU32(b, 0, 0, u32));
}

TEST(BoundedReads, FieldsRecordsAndTagsStopAtTheirBytes) {
    const uint8_t text[6] = {'a', 'b', 0, 'x', 'y', 'z'};
    FieldSpan span;
    ASSERT_TRUE(ReadField(text, 6, 0, 6, span));
    EXPECT_EQ(span.Length, 2u);
    EXPECT_TRUE(span.Terminated);
    ASSERT_TRUE(ReadField(text, 6, 3, 3, span));
    EXPECT_EQ(span.Length, 3u);
    EXPECT_FALSE(span.Terminated);
    EXPECT_FALSE(ReadField(text, 6, 3, 4, span));
    EXPECT_FALSE(ReadField(text, 6, SIZE_MAX, 2, span));

    const auto pkg = BuildFilePackage({File("a.bin", {1, 2, 3})});
    FileRecord rec;
    EXPECT_EQ(ReadFileRecord(pkg.data(), pkg.size(), kPackageHeaderSize, rec), PackageError::None);
    EXPECT_EQ(rec.FileName, "a.bin");
    FileRecord untouched;
    untouched.FileName = "keep";
    // 303 bytes: the record lacks its last byte.
    EXPECT_EQ(ReadFileRecord(pkg.data(), kPackageHeaderSize + kFileRecordSize - 1, kPackageHeaderSize,
                             untouched),
              PackageError::TableOverflow);
    EXPECT_EQ(ReadFileRecord(pkg.data(), pkg.size(), SIZE_MAX - 100, untouched),
              PackageError::TableOverflow);
    EXPECT_EQ(untouched.FileName, "keep");

    const auto res = MakeTaggedResource(BiosPackage, {});
    EXPECT_EQ(ResourceIdForTag(res.data(), res.size(), 0), BiosPackage);
    EXPECT_EQ(ResourceIdForTag(res.data(), kTagLength - 1, 0), 0);
    EXPECT_EQ(ResourceIdForTag(res.data(), res.size(), SIZE_MAX), 0);
}

TEST(OptionLayout, ProgramCopyReadsEachFieldFromTheTable) {
    OptionBlock in;
    for (const OptionFieldSpec &f : kOptionFields)
        if (std::string *text = OptionText(in, f.Field)) *text = std::string(f.Name) + ".x";
    in.Flags = 0x1234;
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(SerializeOptionBlock(in, bytes));
    for (const OptionFieldSpec &f : kOptionFields)
        if (f.Kind != OptionFieldKind::Word)
            EXPECT_EQ(std::string(reinterpret_cast<const char *>(bytes.data() + f.Offset)),
                      std::string(f.Name) + ".x");
    ProgramOptionCopy copy;
    std::memcpy(copy.Bytes.data(), bytes.data(), kProgramOptionSize);
    EXPECT_EQ(copy.Flags(), 0x1234u);
    EXPECT_EQ(copy.MeImageName(), "MeImageName.x");
    EXPECT_EQ(copy.IdString(), "IdString.x");
    // Fields past the copy's 1952 bytes read as empty.
    EXPECT_EQ(copy.Text(OptionField::DosMeUpdateTool), "");
}
