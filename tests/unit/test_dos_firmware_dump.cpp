// A firmware dump stands for the top of the 4 GiB physical space: its last
// byte at 0xFFFFFFFF, everything outside it reading 0xFF.
#include <gtest/gtest.h>

#include <cstdlib>

#include "dos/bios_id.h"
#include "payload/dos_limits.h"
#include "platform/posix/dos_platform_linux.h"
#include "support/test_files.h"

using namespace fwpack;
using namespace fwpack::test;

TEST(DosFirmwareDump, TheDumpEndsAtTheTopOfTheAddressSpace) {
    TempDir dir;
    std::vector<uint8_t> dump(4096);
    for (size_t i = 0; i < dump.size(); ++i) dump[i] = uint8_t(i);
    WriteBytes(dir / "fw.bin", dump);

    std::vector<uint8_t> out(32, 0);
    ASSERT_TRUE(ReadFirmwareDump(dir / "fw.bin", 0xFFFFF000u - 16, out.data(), out.size()));
    for (size_t i = 0; i < 16; ++i) EXPECT_EQ(out[i], 0xFF) << i;   // below the dump
    for (size_t i = 16; i < 32; ++i) EXPECT_EQ(out[i], uint8_t(i - 16)) << i;

    ASSERT_TRUE(ReadFirmwareDump(dir / "fw.bin", 0xFFFFFFF0u, out.data(), 16));
    for (size_t i = 0; i < 16; ++i) EXPECT_EQ(out[i], uint8_t(4096 - 16 + i));

    EXPECT_FALSE(ReadFirmwareDump(dir / "none.bin", 0xFFFFFFF0u, out.data(), 16));
    for (size_t i = 0; i < 16; ++i) EXPECT_EQ(out[i], 0xFF);
}

TEST(DosFirmwareDump, TheLinuxPlatformFindsTheBlockInTheDumpNamedByTheEnvironment) {
    TempDir dir;
    // 3 MiB: 0xFFD00000 .. 0xFFFFFFFF, the block in the third range.
    std::vector<uint8_t> dump(3 << 20, 0xFF);
    std::string block = "$FB$VENDOR$A07$20261207$R01$BOARD-Z$";
    size_t at = 0xFFDB0000u - 0xFFD00000u + 5;
    std::copy(block.begin(), block.end(), dump.begin() + long(at));
    dump[at + block.size()] = 0x3C;
    dump[at + block.size() + 1] = 0x0A;
    WriteBytes(dir / "fw.bin", dump);

    ::setenv(kFirmwareDumpVariable, (dir / "fw.bin").c_str(), 1);
    LinuxDosPlatform platform;
    std::vector<uint8_t> chunk(kDosTransferSize);
    FixedText<kBiosInfoRoom> info;
    GetBiosInfo(platform, chunk.data(), chunk.size(), info);
    ::unsetenv(kFirmwareDumpVariable);
    EXPECT_EQ(std::string(info.CStr(), info.Length()), block + "A3C");
}
