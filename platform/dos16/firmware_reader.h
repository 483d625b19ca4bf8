// The firmware's bytes below 4 GiB as the DOS updater reads them: through
// flat real mode, or, when FWPACK_FIRMWARE_DUMP names a file, from that file
// read as the top of the 4 GiB space (DOSBox maps no flash there). Bytes
// that cannot be read come back as 0xFF, as an unmapped bus reads.
#pragma once
#include <stddef.h>
#include <stdint.h>

namespace dos16 {

inline constexpr char kFirmwareDumpVariable[] = "FWPACK_FIRMWARE_DUMP";

class FirmwareReader {
  public:
    // Chooses the source. When neither works (the dump cannot be opened, or
    // a memory manager keeps the processor in virtual-8086 mode) it prints
    // one line saying so and every read gives 0xFF.
    void Open();
    void Read(uint32_t address, uint8_t *out, uint16_t count);
    void Close();

  private:
    void ReadDump(uint32_t address, uint8_t *out, uint16_t count);

    int32_t dump_ = -1;
    uint32_t dumpSize_ = 0;
    bool flat_ = false;
};

}  // namespace dos16
