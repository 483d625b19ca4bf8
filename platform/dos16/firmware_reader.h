// The firmware's bytes below 4 GiB as the DOS updater reads them: through
// flat real mode, through the BIOS block move where a memory manager runs
// DOS in virtual-8086 mode, or, when FWPACK_FIRMWARE_DUMP names a file, from
// that file read as the top of the 4 GiB space (DOSBox maps no flash
// there). Bytes that cannot be read come back as 0xFF, as an unmapped bus
// reads: never bytes from another address.
#pragma once
#include <stddef.h>
#include <stdint.h>

namespace dos16 {

inline constexpr char kFirmwareDumpVariable[] = "FWPACK_FIRMWARE_DUMP";

enum class FirmwareAccess : uint8_t { None, Dump, Flat, BlockMove };

class FirmwareReader {
  public:
    // Chooses the source: the dump file when the variable names one, the
    // block move in virtual-8086 mode (or when asked for), else flat real
    // mode. When none works (the dump cannot be opened, A20 stays off) it
    // prints one line saying why and every read gives 0xFF.
    void Open(bool preferBlockMove = false);
    void Read(uint32_t address, uint8_t *out, uint16_t count);
    void Close();
    FirmwareAccess Access() const { return access_; }

  private:
    void ReadDump(uint32_t address, uint8_t *out, uint16_t count);
    void ReadFlat(uint32_t address, uint8_t *out, uint16_t count);
    void ReadThroughBios(uint32_t address, uint8_t *out, uint16_t count);
    void GiveUp(const char *line);

    int32_t dump_ = -1;
    uint32_t dumpSize_ = 0;
    FirmwareAccess access_ = FirmwareAccess::None;
};

}  // namespace dos16
