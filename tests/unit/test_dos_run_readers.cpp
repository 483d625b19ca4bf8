// The DOS updater's own readers of the option block and of package records:
// the same bytes as the shared layout tables say, in fixed rooms.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "dos/option_texts.h"
#include "dos/package_records.h"
#include "payload/file_package.h"
#include "payload/option_block.h"

using namespace fwpack;

namespace {
OptionBlock SampleOptions() {
    OptionBlock o;
    o.Flags = 0x1235;
    o.FlashProgram = "winflash.exe";
    o.DosFlashProgram = "dosflash.exe";
    o.BiosImageName = "bios.bin";
    o.IdString = "$FB$VENDOR$A05$20261207$R01$BOARD-X$";
    o.MeFlashProgram = "meflash.exe";
    o.MeImageName = "me.bin";
    o.DosMeQueryTool = "meinfo.exe -fwsts";
    o.DosMeUpdateTool = "meupd.exe";
    return o;
}
}  // namespace

TEST(DosRunReaders, TheOptionTextsAreTheFieldsTheSharedReaderFinds) {
    std::vector<uint8_t> block;
    ASSERT_TRUE(SerializeOptionBlock(SampleOptions(), block));
    DosOptions o;
    ReadDosOptions(block.data(), block.size(), o);
    EXPECT_EQ(o.Flags, 0x1235u);
    EXPECT_STREQ(o.DosFlashProgram, "dosflash.exe");
    EXPECT_STREQ(o.BiosImageName, "bios.bin");
    EXPECT_STREQ(o.IdString, "$FB$VENDOR$A05$20261207$R01$BOARD-X$");
    EXPECT_STREQ(o.MeImageName, "me.bin");
    EXPECT_STREQ(o.DosMeQueryTool, "meinfo.exe -fwsts");
    EXPECT_STREQ(o.DosMeUpdateTool, "meupd.exe");

    // A second read starts empty; a block cut inside a field keeps what is there.
    const size_t cut = OptionFieldOf(OptionField::IdString).Offset + 4;
    ReadDosOptions(block.data(), cut, o);
    EXPECT_STREQ(o.BiosImageName, "bios.bin");
    EXPECT_STREQ(o.IdString, "$FB$");
    EXPECT_STREQ(o.MeImageName, "");
    EXPECT_STREQ(o.DosMeUpdateTool, "");
}

TEST(DosRunReaders, AnOptionFieldWithoutItsNulKeepsEveryByteAndStaysInItsRoom) {
    std::vector<uint8_t> block(kOptionBlockSize, 0);
    const OptionFieldSpec &image = OptionFieldOf(OptionField::BiosImageName);
    const OptionFieldSpec &id = OptionFieldOf(OptionField::IdString);
    std::memset(block.data() + image.Offset, 'B', image.Size);
    std::memset(block.data() + id.Offset, 'I', id.Size);
    DosOptions o;
    ReadDosOptions(block.data(), block.size(), o);
    EXPECT_EQ(std::string(o.BiosImageName), std::string(image.Size, 'B'));
    EXPECT_EQ(std::string(o.IdString), std::string(id.Size, 'I'));
    EXPECT_STREQ(o.MeImageName, "");   // the neighbour is untouched
}

TEST(DosRunReaders, ARecordGivesItsChecksumSizeAndNameAsTheSharedReaderDoes) {
    std::vector<uint8_t> bytes(8 + kFileRecordSize, 0x77);
    FileRecord in;
    in.Checksum = 0xBEEF;
    in.Size = 123456;
    in.FileName = "DOSFLASH.EXE";
    WriteFileRecord(in, bytes.data() + 8);
    DosFileRecord out;
    ASSERT_EQ(ReadDosFileRecord(bytes.data(), bytes.size(), 8, out), PackageError::None);
    FileRecord shared;
    ASSERT_EQ(ReadFileRecord(bytes.data(), bytes.size(), 8, shared), PackageError::None);
    EXPECT_EQ(out.Checksum, shared.Checksum);
    EXPECT_EQ(out.Size, shared.Size);
    EXPECT_EQ(std::string(out.FileName), shared.FileName);

    // One byte short of the record: nothing is read.
    DosFileRecord untouched;
    untouched.Size = 9;
    EXPECT_EQ(ReadDosFileRecord(bytes.data(), bytes.size() - 1, 8, untouched), PackageError::TableOverflow);
    EXPECT_EQ(untouched.Size, 9u);
    EXPECT_EQ(ReadDosFileRecord(bytes.data(), bytes.size(), SIZE_MAX - 10, untouched),
              PackageError::TableOverflow);
}

TEST(DosRunReaders, ARecordNameWithoutItsNulIsReportedAndKeptInItsRoom) {
    std::vector<uint8_t> bytes(kFileRecordSize, 0);
    std::memset(bytes.data() + record_offset::FileName, 'N', kFileNameSize);
    DosFileRecord out;
    EXPECT_EQ(ReadDosFileRecord(bytes.data(), bytes.size(), 0, out), PackageError::NameNotTerminated);
    EXPECT_EQ(std::string(out.FileName), std::string(kFileNameSize, 'N'));
}

TEST(DosRunReaders, BareNamesAsTheSharedRuleHasThem) {
    for (const char *name : {"a", "A.EXE", "...", "a..b", "name with space"}) {
        EXPECT_TRUE(IsBareName(name, std::strlen(name))) << name;
        EXPECT_TRUE(IsBareFileName(name)) << name;
    }
    for (const char *name : {"", ".", "..", "a/b", "a\\b", "c:x", "/"}) {
        EXPECT_FALSE(IsBareName(name, std::strlen(name))) << name;
        EXPECT_FALSE(IsBareFileName(name)) << name;
    }
    EXPECT_FALSE(IsBareName("a\0b", 3));   // a NUL inside the length
}
