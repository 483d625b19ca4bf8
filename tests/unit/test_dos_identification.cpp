// Firmware identification: parsing the '$' fields into the 80-byte record,
// finding the "$FB" block in the three memory ranges, and the machine's
// identification text built from it.
#include <gtest/gtest.h>

#include <cstring>
#include <array>
#include <map>
#include <vector>

#include "dos/bios_id.h"
#include "payload/dos_limits.h"
#include "platform/dos_platform.h"

using namespace fwpack;

namespace {

// Physical memory made of a few byte runs; everything else reads 0xFF.
class FakeMemory : public PhysicalMemoryReader {
  public:
    void Put(uint32_t address, const std::string &bytes) { runs_[address] = bytes; }
    void ReadPhysical(uint32_t address, uint8_t *out, size_t count) override {
        ++reads;
        std::memset(out, 0xFF, count);
        for (const auto &[at, bytes] : runs_)
            for (size_t i = 0; i < bytes.size(); ++i) {
                uint64_t a = uint64_t(at) + i;
                if (a >= address && a < uint64_t(address) + count) out[a - address] = uint8_t(bytes[i]);
            }
    }
    int reads = 0;

  private:
    std::map<uint32_t, std::string> runs_;
};

std::string Text(TextView text) { return std::string(text.Data, text.Length); }

void Parse(const std::string &text, BiosIdRecord &record) {
    strToStruct(TextView(text.data(), text.size()), record);
}

// The block as the run finds it, through a buffer of the transfer buffer's size.
std::string Info(PhysicalMemoryReader &memory) {
    std::vector<uint8_t> chunk(kDosTransferSize);
    FixedText<kBiosInfoRoom> out;
    GetBiosInfo(memory, chunk.data(), chunk.size(), out);
    EXPECT_FALSE(out.Overrun());
    return Text(out.View());
}

std::string MachineText(const std::string &block) {
    FixedText<kMachineIdRoom> out;
    biosInfoToString(TextView(block.data(), block.size()), out);
    EXPECT_FALSE(out.Overrun());
    return Text(out.View());
}

bool SameBytes(const BiosIdRecord &r, const std::array<char, kBiosIdRecordSize> &expected) {
    return std::memcmp(r.Bytes, expected.data(), kBiosIdRecordSize) == 0;
}

std::string Block(const std::string &system, const std::string &version) {
    return "$FB$VENDOR$" + version + "$20261207$R01$" + system + "$";
}

}  // namespace

TEST(DosBiosIdRecord, FieldsLandAtTheirOffsetsAndTheZeroFillEndsThem) {
    BiosIdRecord r;
    Parse("junk$FB$SAMPLE$A05$20261207$R01$BOARD-X$0001", r);
    EXPECT_EQ(Text(r.Field(1)), "FB");
    EXPECT_EQ(Text(r.Field(2)), "SAMPLE");
    EXPECT_EQ(Text(r.BiosVersion()), "A05");
    EXPECT_EQ(Text(r.Field(4)), "20261207");
    EXPECT_EQ(Text(r.Field(5)), "R01");
    EXPECT_EQ(Text(r.SystemName()), "BOARD-X");
    EXPECT_EQ(Text(r.Field(7)), "0001");
    EXPECT_EQ(std::memcmp(r.Bytes + 20, "A05\0", 4), 0);
    EXPECT_EQ(std::memcmp(r.Bytes + 50, "BOARD-X\0", 8), 0);

    // A second parse starts from zeros: nothing of the longer first text stays.
    Parse("$FB$V$1$D$R$B$", r);
    EXPECT_EQ(Text(r.SystemName()), "B");
    EXPECT_EQ(Text(r.Field(4)), "D");
    EXPECT_EQ(Text(r.Field(7)), "");
}

TEST(DosBiosIdRecord, TextAfterTheEighthDollarAndBeforeTheFirstIsDropped) {
    BiosIdRecord r;
    Parse("abc$1$2$3$4$5$6$7$8$9", r);
    EXPECT_EQ(Text(r.Field(1)), "1");
    EXPECT_EQ(Text(r.Field(7)), "7");
    std::array<char, kBiosIdRecordSize> expected{};
    const char *values = "1234567";
    for (int k = 1; k <= 7; ++k) expected[BiosIdRecord::FieldOffset(k)] = values[k - 1];
    EXPECT_TRUE(SameBytes(r, expected));

    Parse("no dollar at all", r);
    EXPECT_TRUE(SameBytes(r, {}));
}

TEST(DosBiosIdRecord, AFieldLongerThanItsRoomIsCutAndLeavesItsNeighboursAlone) {
    BiosIdRecord r;
    Parse("$FB$V$ABCDEFGHIJKLMNOP$DATE$R$" + std::string(30, 'S') + "$" + std::string(200, 'Z'), r);
    EXPECT_EQ(Text(r.BiosVersion()), "ABCDEFGHIJ");
    EXPECT_EQ(Text(r.Field(4)), "DATE");
    EXPECT_EQ(Text(r.SystemName()), std::string(20, 'S'));
    EXPECT_EQ(Text(r.Field(7)), std::string(10, 'Z'));   // the last room ends the record
}

TEST(DosBiosInfo, FindsTheBlockInTheRangesInTheirOrder) {
    FakeMemory memory;
    memory.Put(0xFFDB0010, Block("THIRD", "A01") + "\x34\x12");
    EXPECT_EQ(Info(memory), Block("THIRD", "A01") + "1234");

    memory.Put(0xFFE30000, Block("SECOND", "A02") + std::string("\x01\x00", 2));
    EXPECT_EQ(Info(memory), Block("SECOND", "A02") + "1");   // no leading zeros

    memory.Put(0xFFF4FFFF, Block("FIRST", "A03") + "\xCD\xAB");   // at the range's last address
    EXPECT_EQ(Info(memory), Block("FIRST", "A03") + "ABCD");
}

TEST(DosBiosInfo, AMarkerOutsideTheRangesOrIncompleteIsNotFound) {
    FakeMemory memory;
    memory.Put(0xFFF50000, Block("ABOVE", "A01"));   // the first range ends before it
    memory.Put(0xFFDAFFF0, Block("BELOW", "A01").substr(0, 12));
    memory.Put(0xFFE40000, "$FX$FB");   // the "$F" prefix alone does not count
    // "$FB" at 0xFFE40003: 64 bytes are copied, the unmapped ones as 0xFF.
    EXPECT_EQ(Info(memory), "$FB" + std::string(61, '\xFF'));
    FakeMemory empty;
    EXPECT_EQ(Info(empty), "");
}

TEST(DosBiosInfo, CopiesAtMost64BytesWhenSevenDollarsDoNotCome) {
    FakeMemory memory;
    std::string block = "$FB$" + std::string(100, 'x');
    memory.Put(0xFFEB1000, block);
    EXPECT_EQ(Info(memory), block.substr(0, 64));
}

TEST(DosBiosInfo, MachineTextKeepsUpToTheLastDollarAndAppendsTheTwoCharactersThereInHex) {
    // After the seventh '$' the block holds the hex of the word; its first
    // two characters become the number that is printed.
    EXPECT_EQ(MachineText("$FB$V$A05$D$R$BOARD$1A2B"), "$FB$V$A05$D$R$BOARD$4131");
    EXPECT_EQ(MachineText("$FB$V$A05$D$R$BOARD$"), "$FB$V$A05$D$R$BOARD$0000");
    EXPECT_EQ(MachineText("abc"), "a6362");   // no '$': position 1
    EXPECT_EQ(MachineText(""), "0000");
    // A block with a NUL inside is a shorter text.
    EXPECT_EQ(MachineText(std::string("$FB$V\0$X", 8)), "$FB$0056");
}

TEST(DosBiosInfo, TheMachineRecordHasTheSystemNameAndVersionOfTheBlock) {
    FakeMemory memory;
    memory.Put(0xFFE50000, Block("BOARD-X", "A04") + std::string("\x01\x00", 2));
    BiosIdRecord machine;
    Parse(MachineText(Info(memory)), machine);
    EXPECT_EQ(Text(machine.SystemName()), "BOARD-X");
    EXPECT_EQ(Text(machine.BiosVersion()), "A04");

    FakeMemory empty;
    Parse(MachineText(Info(empty)), machine);
    EXPECT_EQ(Text(machine.SystemName()), "");
    EXPECT_EQ(Text(machine.BiosVersion()), "");
}
