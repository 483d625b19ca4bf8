// Damaged program files into the DOS updater: the input is the updater's own
// file, scanned for its tagged resources and unpacked into the current
// directory, then checked and "flashed" on a machine whose commands all
// succeed and whose answers are all yes. The run happens in a folder of its
// own inside a scratch folder: nothing may appear beside it, and it is
// emptied after each input.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "dos/dos_updater.h"
#include "platform/dos_platform.h"
#include "platform/posix/memory_transfer_buffer.h"
#include "platform/posix/posix_dos_files.h"

namespace fs = std::filesystem;
using namespace fwpack;

namespace {

// The updater's own file is the input, written once per run to a file that
// sits beside the run folder (the only entry allowed there besides it).
class FuzzMachine : public DosPlatform {
  public:
    explicit FuzzMachine(const std::string &ownFile) : ownFile_(ownFile) {}
    void Write(const char *, size_t) override {}
    void ReadPhysical(uint32_t, uint8_t *out, size_t count) override { std::memset(out, 0xFF, count); }
    DosFiles &Files() override { return files_; }
    DosTransferBuffer &Transfer() override { return transfer_; }
    DosFile OpenOwnFile() override { return files_.OpenForReading(ownFile_.c_str()); }
    int RunCommand(const char *) override { return 0; }
    void MakeRunnable(const char *) override {}
    int ReadKey() override { return 'Y'; }
    void Beep(unsigned, unsigned) override {}
    void Delay(unsigned) override {}
    void Restart() override {}

  private:
    std::string ownFile_;
    PosixDosFiles files_;
    MemoryTransferBuffer transfer_{files_};
};

fs::path scratch, run, own;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    const char *shm = "/dev/shm";
    fs::path base = fs::is_directory(shm) ? fs::path(shm) : fs::temp_directory_path();
    std::string tmpl = (base / "fwpack-fuzz-dos-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) std::abort();
    scratch = tmpl;
    run = scratch / "run";
    own = scratch / "own.exe";
    fs::create_directory(run);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // The updater works in the current directory; the fuzzer's own files
    // (corpus, artifacts) are named relative to the one it was started in.
    {
        std::FILE *f = std::fopen(own.c_str(), "wb");
        if (!f || std::fwrite(data, 1, size, f) != size || std::fclose(f) != 0) std::abort();
    }
    const fs::path home = fs::current_path();
    fs::current_path(run);
    FuzzMachine machine(own.string());
    const char *const argv[] = {"dosupdater", "/forcetype", "/forceit", "/nopause"};
    DosUpdaterMain(4, argv, machine);
    fs::current_path(home);
    for (const fs::directory_entry &e : fs::directory_iterator(scratch))
        if (e.path() != run && e.path() != own) {
            std::fprintf(stderr, "the updater wrote %s outside its directory\n", e.path().c_str());
            std::abort();
        }
    std::error_code ec;
    for (const fs::directory_entry &e : fs::directory_iterator(run)) fs::remove_all(e.path(), ec);
    return 0;
}
