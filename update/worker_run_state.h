// The worker's state for its one run.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "payload/file_package.h"

namespace fwpack {

struct WorkerRunState {
    std::string TempRoot;            // ends with the separator
    std::string WorkFolder;          // ends with the separator; empty until made
    std::string ScratchA, ScratchB;  // empty until named
    std::vector<uint8_t> PackageBuffer;
    std::vector<FileRecord> RecordTable;
    bool HaveRecordTable = false;
    uint32_t FileCount = 0;
    uint32_t CurrentIndex = 0;
    // From the copy stage on the files of this run live in the
    // DestinationFolder: the rollback and the cleanup work there.
    bool InDestination = false;
    // Whether the DestinationFolder was made by this run (it did not exist
    // when the copy stage began and creating it succeeded).
    bool DestinationCreated = false;
    // Names (relative to the DestinationFolder) that this run wrote there:
    // the copied tools (index = record) and the images.
    std::vector<bool> Copied;
    std::vector<std::string> ImagesWritten;

    int32_t Launched = 0;
    bool MeLaunched = false;   // the ME flash program was started
    int32_t RtnStatus = 0, RtnReboot = 0;
    int32_t MERtnStatus = 0, MERtnReboot = 0;
};

}  // namespace fwpack
