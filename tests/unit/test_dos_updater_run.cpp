// The updater run on a recording platform: the unpacking rules, the mended
// faults (direct deletion, 16-bit ME checksum, fixed rooms), answers, and
// what every exit leaves behind. The real Linux runs are in tests/e2e/dos.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "dos/dos_updater.h"
#include "payload/bytes.h"
#include "payload/tagged_resource.h"
#include "platform/dos_platform.h"
#include "platform/posix/memory_transfer_buffer.h"
#include "platform/posix/posix_dos_files.h"
#include "support/dos_package.h"
#include "support/test_files.h"
#include "tools/fwpack/container/container.h"

using namespace fwpack;
using namespace fwpack::test;

namespace {

// A transfer buffer that can be refused, as DOS does when too little
// conventional memory is free.
class ScarceTransferBuffer : public MemoryTransferBuffer {
  public:
    using MemoryTransferBuffer::MemoryTransferBuffer;
    bool refuse = false;
    bool Allocate(size_t size) override { return !refuse && MemoryTransferBuffer::Allocate(size); }
};

class FakeDos : public DosPlatform {
  public:
    std::string ownFile, out, keys;
    std::string typeAhead;   // keys pressed before a question: read first unless discarded
    std::string memoryBlock;   // placed at 0xFFEB0000
    std::vector<std::string> commands, runnable;
    std::function<int(const std::string &)> tool = [](const std::string &) { return 0; };
    std::function<void()> onRunnable = [] {};
    int beeps = 0, restarts = 0;
    int stop = 0;   // what StopRequest() answers; a '!' among the keys sets it to 143
    unsigned delayed = 0;

    PosixDosFiles files;
    ScarceTransferBuffer transfer{files};

    const char *const *programs = kDosProgramExtensions;   // what IsProgramName accepts

    bool IsProgramName(const char *name) override { return HasProgramExtension(name, programs); }
    void Write(const char *text, size_t length) override { out.append(text, length); }
    void ReadPhysical(uint32_t address, uint8_t *o, size_t count) override {
        // The block lies at 0xFFEB0000; a read may start anywhere.
        constexpr uint64_t kBlockAt = 0xFFEB0000;
        std::memset(o, 0xFF, count);
        for (size_t i = 0; i < memoryBlock.size(); ++i)
            if (kBlockAt + i >= address && kBlockAt + i < uint64_t(address) + count)
                o[kBlockAt + i - address] = uint8_t(memoryBlock[i]);
    }
    DosFiles &Files() override { return files; }
    DosTransferBuffer &Transfer() override { return transfer; }
    DosFile OpenOwnFile() override { return files.OpenForReading(ownFile.c_str()); }
    int RunCommand(const char *c) override {
        commands.push_back(c);
        return tool(c);
    }
    void MakeRunnable(const char *f) override {
        runnable.push_back(f);
        onRunnable();
    }
    void DiscardTypeAhead() override { typeAhead.clear(); }
    int ReadKey() override {
        if (!typeAhead.empty()) {
            int k = typeAhead[0];
            typeAhead.erase(0, 1);
            return k;
        }
        if (keys.empty()) return kEndOfInput;
        int k = keys[0];
        keys.erase(0, 1);
        if (k != '!') return k;
        stop = 143;
        return kStopRequested;
    }
    int StopRequest() override { return stop; }
    void Beep(unsigned, unsigned) override { ++beeps; }
    void Delay(unsigned ms) override { delayed += ms; }
    void Restart() override { ++restarts; }
};

void WriteText(const std::string &path, const std::string &text) {
    WriteBytes(path, std::vector<uint8_t>(text.begin(), text.end()));
}

// A temp folder as the current directory, a package file outside it, and
// stand-in tools that write what the ME tools would.
class DosRun : public ::testing::Test {
  protected:
    void SetUp() override {
        saved_ = std::filesystem::current_path();
        std::filesystem::create_directory(dir_ / "work");
        std::filesystem::current_path(dir_ / "work");
        dos.memoryBlock = "$FB$VENDOR$A04$20261207$R01$BOARD-X$" + std::string("\x01\x00", 2);
        dos.ownFile = dir_ / "package.run";
        dos.tool = [this](const std::string &c) {
            if (c.find("> me.log") != std::string::npos) {
                std::string line = "FW Version:";
                line.resize(40, ' ');
                WriteText("me.log", line + meVersion + "\n");
            }
            return 0;
        };
    }
    void TearDown() override { std::filesystem::current_path(saved_); }

    void Package(const DosPackageSpec &spec) { Package(BuildDosResources(spec)); }
    void Package(const ResourceSet &set) {
        std::vector<uint8_t> stub = SampleBytes(3000, 4);
        WriteBytes(dir_ / "stub", stub);
        std::string error;
        ASSERT_TRUE(WriteRunPackage(dir_ / "stub", set, dir_ / "package.run", error)) << error;
    }
    int Run(std::vector<const char *> args = {}) {
        args.insert(args.begin(), "package.run");
        return DosUpdaterMain(int(args.size()), args.data(), dos);
    }
    // The resources in their usual order without the builder's checks.
    void WriteOwnFile(ResourceSet &set, size_t gap = 8) {
        std::vector<uint8_t> file(3000, 'x');
        for (uint16_t id : {DosPackage, BiosPackage, OptionResource, MePackage}) {
            file.insert(file.end(), set[id].begin(), set[id].end());
            file.insert(file.end(), gap, 0);
        }
        file.insert(file.end(), 32, 0);
        WriteBytes(dos.ownFile, file);
    }
    void ClearWork() {
        for (const std::string &name : Files()) std::filesystem::remove(name);
    }
    std::vector<std::string> Files() {
        std::vector<std::string> names;
        for (const auto &e : std::filesystem::directory_iterator(".")) names.push_back(e.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }
    bool Printed(const std::string &text) { return dos.out.find(text) != std::string::npos; }

    FakeDos dos;
    std::string meVersion = "11.8.50.3400";
    TempDir dir_;

  private:
    std::filesystem::path saved_;
};

using Names = std::vector<std::string>;

}  // namespace

TEST_F(DosRun, AFullRunFlashesBothAndRestartsWithoutAsking) {
    Package(SampleDosPackage());
    // The fake reset returns, which the run reports as a failed restart.
    EXPECT_EQ(Run({"/NoPause"}), dos_exit::RestartFailed);
    EXPECT_EQ(dos.restarts, 1);
    EXPECT_EQ(dos.commands, (Names{"flash.exe bios.bin  /P /B", "meinfo.exe > me.log", "meupd.exe -F me.bin"}));
    EXPECT_EQ(dos.runnable, (Names{"flash.exe", "meinfo.exe", "meupd.exe"}));
    EXPECT_EQ(dos.delayed, 2000u);
    EXPECT_EQ(dos.keys, "");
    EXPECT_FALSE(Printed("(Yes/No)"));
    // Delete-at-end is off: the unpacked files and the log stay, the filler
    // and every scratch file are gone.
    EXPECT_EQ(Files(), (Names{"bios.bin", "flash.exe", "me.bin", "me.log", "meinfo.exe", "meupd.exe"}));
    EXPECT_TRUE(Printed("\nCurrent ME version: 11.8.50.3400\nThe New ME version: 11.8.50.3425\nmeupd.exe -F me.bin"));
}

TEST_F(DosRun, DeleteAtEndRemovesFilesDirectlyWhateverTheirNames) {
    DosPackageSpec spec = SampleDosPackage();
    spec.Options.Flags = 0x1 | 0x4;   // delete at end, factory
    spec.Tools.push_back(NamedFile("x&del.$$$", {'x'}));
    Package(spec);
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(Files(), Names{});
    for (const auto &c : dos.commands) EXPECT_EQ(c.find("del "), std::string::npos) << c;
    EXPECT_EQ(dos.commands.size(), 3u);
    EXPECT_EQ(dos.restarts, 0);
}

TEST_F(DosRun, MoreThanFiveRecordsAreRefusedWithTheStepsCode) {
    DosPackageSpec spec = SampleDosPackage();
    for (int i = 0; i < 3; ++i) spec.Tools.push_back(NamedFile("extra" + std::to_string(i), {'x'}));
    Package(spec);
    EXPECT_EQ(Run(), 4);
    EXPECT_TRUE(Printed("\nThe package holds 6 files, more than the 5 this program can hold."));
    EXPECT_EQ(Files(), Names{});

    dos.out.clear();
    spec = SampleDosPackage();
    for (int i = 0; i < 5; ++i) spec.MeFiles.push_back(NamedFile("me" + std::to_string(i), {'x'}));
    Package(spec);
    EXPECT_EQ(Run(), 6);
    EXPECT_TRUE(Printed("\nThe package holds 6 files"));
    EXPECT_EQ(Files(), Names{});   // the tools and the BIOS image unpacked before are removed too
}

TEST_F(DosRun, ImageNamesOfTwentyCharactersAreRefused) {
    DosPackageSpec spec = SampleDosPackage();
    spec.Options.BiosImageName = std::string(20, 'b');
    Package(spec);
    EXPECT_EQ(Run(), 7);
    EXPECT_TRUE(Printed("\nBegin to check bin file.\nThe BIOS bin file name is too long (at most 19 characters): bbbbbbbbbbbbbbbbbbbb"));
    EXPECT_TRUE(dos.commands.empty());

    spec = SampleDosPackage();
    spec.Options.MeImageName = std::string(25, 'm');
    Package(spec);
    EXPECT_EQ(Run({"/nopause"}), 14);
    EXPECT_TRUE(Printed("\nThe ME bin file name is too long (at most 19 characters): " + std::string(25, 'm')));

    // A record of nineteen characters is no 8.3 name: the package is
    // refused while it is unpacked.
    spec = SampleDosPackage();
    spec.Options.BiosImageName = spec.BiosFiles[0].Record.FileName = std::string(19, 'b');
    Package(spec);
    dos.commands.clear();
    EXPECT_EQ(Run({"/noreboot", "/factory"}), 4);
    EXPECT_TRUE(dos.commands.empty());
}

TEST_F(DosRun, TheMeChecksumComparesSixteenBitValues) {
    // 128 bytes of 0xFF and one 0x7F sum to 0x7FFF; the record says 0x8001.
    // Read as signed 16-bit numbers their absolute values are equal.
    DosPackageSpec spec = SampleDosPackage();
    std::vector<uint8_t> image(128, 0xFF);
    image.push_back(0x7F);
    spec.MeFiles[0].Bytes = image;
    spec.ChecksumOverride["me.bin"] = 0x8001;
    Package(spec);
    EXPECT_EQ(Run({"/nopause"}), 15);
    EXPECT_TRUE(Printed("\nThe ME bin file has destroyed, checksum error"));
    EXPECT_EQ(Files(), Names{});

    // Only the low 16 bits of a record's checksum count.
    spec = SampleDosPackage();
    uint32_t sum = 0;
    for (uint8_t b : spec.BiosFiles[0].Bytes) sum += b;
    spec.ChecksumOverride["bios.bin"] = 0xABCD0000u | (sum & 0xFFFF);
    Package(spec);
    dos.out.clear();
    EXPECT_EQ(Run({"/factory"}), 0);
    EXPECT_FALSE(Printed("checksum error"));
}

TEST_F(DosRun, QuestionsWaitForYesOrNoAndBeepAtOtherKeys) {
    Package(SampleDosPackage());
    dos.keys = "x\ry";   // update: two beeps, then yes; restart: end of input is no
    EXPECT_EQ(Run(), 20);
    EXPECT_EQ(dos.beeps, 2);
    EXPECT_TRUE(Printed("\nUpdate BIOS(Yes/No)?y\nInvoke the exe file!\n"));
    EXPECT_TRUE(dos.out.ends_with("\nRestart System(Yes/No)?n"));
    EXPECT_EQ(dos.restarts, 0);

    ClearWork();   // what a "no" to the restart left would be kept as it is
    dos.out.clear();
    dos.commands.clear();
    dos.keys = "N";
    EXPECT_EQ(Run(), 12);
    EXPECT_TRUE(dos.out.ends_with("\nUpdate BIOS(Yes/No)?N"));
    EXPECT_TRUE(dos.commands.empty());
    EXPECT_EQ(Files(), Names{});

    dos.out.clear();
    meVersion = "11.8.50.3425";   // same as the image: the ME step is skipped
    dos.keys = "Yn";
    EXPECT_EQ(Run(), 18);
    EXPECT_TRUE(Printed("\nME Version is less or same to Current Version."));

    dos.out.clear();
    dos.keys = "yY";
    EXPECT_EQ(Run(), dos_exit::RestartFailed);
    EXPECT_EQ(dos.restarts, 1);
    EXPECT_TRUE(dos.out.ends_with("\nRestart System(Yes/No)?Y\nThe system could not be restarted."));
}

TEST_F(DosRun, UnreadableMachineVersionPassesOnlyWithForceItOrFactory) {
    dos.memoryBlock = "$FB$VENDOR$A4$20261207$R01$BOARD-X$";   // a two-character version
    Package(SampleDosPackage());
    EXPECT_EQ(Run({"/nopause"}), 10);
    EXPECT_TRUE(Printed("\nThe Old Bios Version:A4\nThe New Bios Version:A05\nThe BIOS version is same or lower than current BIOS version.\n"));
    dos.out.clear();
    EXPECT_EQ(Run({"/factory"}), 0);
    EXPECT_TRUE(Printed("same or lower"));
    EXPECT_EQ(dos.restarts, 0);
}

TEST_F(DosRun, AnEmptyIdStringWarnsAndThenDiffersFromTheMachine) {
    DosPackageSpec spec = SampleDosPackage();
    spec.Options.IdString = "";
    Package(spec);
    EXPECT_EQ(Run(), 9);
    EXPECT_TRUE(Printed("\nCheck Bios Version Failed!\nCan Not Get Version Information!"));
    EXPECT_TRUE(Printed("\nThe Current System:BOARD-X\nThe File System:\nThe System Different. Exit the Flash!"));
}

TEST_F(DosRun, TheScanNeedsAllFourTagsBeforeTheLastTwentyBytes) {
    ResourceSet set = BuildDosResources(SampleDosPackage());
    std::string stubOnly(100, 'x');
    WriteText(dos.ownFile, stubOnly);
    EXPECT_EQ(Run(), 3);
    EXPECT_TRUE(dos.out.ends_with("\nCan not find useful file to flash BIOS or ME."));
    EXPECT_EQ(Files(), Names{});

    WriteText(dos.ownFile, "tiny");
    dos.out.clear();
    EXPECT_EQ(Run(), 3);

    // The ME tag 20 bytes before the end is not looked at; nothing of the
    // other three resources is written before every package is known.
    Package(set);
    std::vector<uint8_t> bytes = ReadBytes(dos.ownFile);
    std::string meTag = ResourceTag(MePackage);
    size_t me = std::search(bytes.begin(), bytes.end(), meTag.begin(), meTag.end()) - bytes.begin();
    bytes.resize(me + 20);
    WriteBytes(dos.ownFile, bytes);
    dos.out.clear();
    EXPECT_EQ(Run(), 3);
    EXPECT_TRUE(Printed("\nDecompress the bin file OK.\nCan not find useful file to flash BIOS or ME."));
    EXPECT_EQ(Files(), Names{});
}

TEST_F(DosRun, SwitchesAndHelp) {
    Package(SampleDosPackage());
    EXPECT_EQ(Run({"/forceit2"}), 1);
    EXPECT_EQ(dos.out, "\nThe command line parameter is not correct.");
    dos.out.clear();
    EXPECT_EQ(Run({"/FORCEIT", "/HeLp", "/bad"}), 0);
    EXPECT_TRUE(dos.out.starts_with("\n 1) /Factory    A combination of no pause, no reboot, and no overwrite\n"));
    EXPECT_TRUE(dos.out.ends_with(" 5) /NoReboot   Will update the NVRAM but will not reboot the system\n"));
    EXPECT_EQ(Files(), Names{});   // nothing is written before the switches are read

    // Option flags add switches and restart and keep modes for the flash program.
    DosPackageSpec spec = SampleDosPackage();
    spec.Options.Flags = 0x4 | 0x80 | 0x100 | 0x400 | 0x1000;
    Package(spec);
    dos.out.clear();
    dos.commands.clear();
    EXPECT_EQ(Run({"/debugging"}), 0);
    EXPECT_EQ(dos.commands.front(), "flash.exe bios.bin  /P /B /R /K0 /K2");
    EXPECT_TRUE(Printed("\nThe files not remove"));
    EXPECT_EQ(dos.delayed, 5000u);
}

TEST_F(DosRun, ImageNamesThatLeadOutOfTheFolderAreNotRead) {
    // A file in the folder that no record describes is not the package's
    // image, even when its sum (0, empty) would pass for one.
    WriteBytes("mine.bin", {});
    DosPackageSpec mine = SampleDosPackage();
    mine.Options.BiosImageName = "mine.bin";
    Package(mine);
    EXPECT_EQ(Run({"/factory"}), 7);
    EXPECT_TRUE(dos.out.ends_with("\nFail to open BIOS bin file, can't get checksum")) << dos.out;
    EXPECT_TRUE(dos.commands.empty());
    ClearWork();
    dos.out.clear();

    WriteBytes(dir_ / "empty.bin", {});
    DosPackageSpec spec = SampleDosPackage();
    spec.Options.BiosImageName = "../empty.bin";
    Package(spec);
    EXPECT_EQ(Run({"/factory"}), 7);
    EXPECT_TRUE(dos.out.ends_with("\nBegin to check bin file.\nThe BIOS bin file name is not a plain file name: ../empty.bin"));
    EXPECT_TRUE(dos.commands.empty());

    // A device that reads as zeros forever would never finish its sum.
    spec = SampleDosPackage();
    spec.Options.MeImageName = "/dev/zero";
    Package(spec);
    dos.out.clear();
    EXPECT_EQ(Run({"/factory"}), 14);
    EXPECT_TRUE(dos.out.ends_with("\nBegin to check ME bin file.\nThe ME bin file name is not a plain file name: /dev/zero"));
    EXPECT_EQ(Files(), (Names{"bios.bin", "flash.exe", "me.bin", "meinfo.exe", "meupd.exe"}));   // 14 removes the filler only

    // No name at all is an image that cannot be opened.
    spec = SampleDosPackage();
    spec.Options.BiosImageName = "";
    Package(spec);
    dos.out.clear();
    EXPECT_EQ(Run({"/factory"}), 7);
    EXPECT_TRUE(dos.out.ends_with("\nFail to open BIOS bin file, can't get checksum"));
    EXPECT_EQ(Files(), (Names{"bios.bin", "flash.exe", "me.bin", "meinfo.exe", "meupd.exe"}));   // 7 removes the filler only
}

TEST_F(DosRun, DamagedPackagesAreRefusedBeforeAnythingIsWritten) {
    ResourceSet good = BuildDosResources(SampleDosPackage());
    constexpr size_t kBody = 16, kSize = 4 + 36;   // the first record's Size in the BIOS body

    ResourceSet set = good;
    PutU32(set[BiosPackage].data() + kBody + kSize, ReadU32(set[BiosPackage].data() + kBody + kSize) + 1);
    Package(set);
    EXPECT_EQ(Run(), 4);
    EXPECT_TRUE(Printed("\nThe package is damaged: "));
    EXPECT_EQ(Files(), Names{});   // the tools unpacked before go as well

    DosPackageSpec spec = SampleDosPackage();
    spec.Tools.push_back(NamedFile("sub/x", {'x'}));
    Package(spec);
    dos.out.clear();
    EXPECT_EQ(Run(), 4);
    EXPECT_TRUE(Printed("\nThe package is damaged: "));
    EXPECT_EQ(Files(), Names{});

    // Up to 51200 bytes after the last file are ignored; more are refused.
    auto padded = [&](size_t extra) {
        set = good;
        std::vector<uint8_t> &bios = set[BiosPackage];
        bios.insert(bios.end(), extra, 0xEE);
        PutU32(bios.data() + 12, uint32_t(bios.size() - kBody));
        Package(set);
        dos.out.clear();
        return Run({"/factory"});
    };
    EXPECT_EQ(padded(51200), 0);
    EXPECT_EQ(ReadBytes("bios.bin"), SampleDosPackage().BiosFiles[0].Bytes);
    ClearWork();
    EXPECT_EQ(padded(51201), 4);
    EXPECT_TRUE(dos.out.ends_with("\nThe package is damaged: 51201 bytes follow its last file. Exit the Flash!"))
        << dos.out;
    EXPECT_EQ(Files(), Names{});
}

// The scan goes on one byte after each resource it handled: after the
// header of the option block (whose own length is not used), after the body
// of a package.
TEST_F(DosRun, TheScanGoesOnRightAfterEachResource) {
    ResourceSet set = BuildDosResources(SampleDosPackage());
    auto assemble = [&](size_t gapAfterDos) {
        std::vector<uint8_t> file(3000, 'x');
        auto add = [&](uint16_t id, size_t gap) {
            file.insert(file.end(), set[id].begin(), set[id].end());
            file.insert(file.end(), gap, 0);
        };
        add(DosPackage, gapAfterDos);
        add(BiosPackage, 1);
        add(OptionResource, 1);
        add(MePackage, 0);
        WriteBytes(dos.ownFile, file);
    };
    PutU32(set[OptionResource].data() + 12, 0xFFFFFFFFu);
    assemble(1);
    EXPECT_EQ(Run({"/factory"}), 0);
    EXPECT_TRUE(Printed("\nDecompress the ME bin file OK."));

    // A tag right at the end of a package's body is found as well (it used
    // to be stepped over, and a package whose resources lie back to back,
    // as a PE's may, then failed with 3).
    assemble(0);
    dos.out.clear();
    EXPECT_EQ(Run({"/factory"}), 0);
    EXPECT_TRUE(Printed("\nDecompress the bin file OK."));
    EXPECT_FALSE(Printed("\nCan not find useful file to flash BIOS or ME."));
}

// A packaged file named like one of the run's own work files would be
// written over the package being read (or a later step's work) and then
// deleted with it. DOS sees names without case, so any case is refused.
TEST_F(DosRun, FilesNamedLikeWorkFilesAreRefusedByTheStepThatReadsThem) {
    struct Case {
        std::string name;
        std::vector<PackageFile> DosPackageSpec::*files;
        int code;
    };
    const std::vector<Case> cases = {
        {"udosexe.dat", &DosPackageSpec::Tools, 4}, {"WASTE.DAT", &DosPackageSpec::Tools, 4},
        {"Bin.Dat", &DosPackageSpec::BiosFiles, 4}, {"dosexe.dat", &DosPackageSpec::BiosFiles, 4},
        {"mebin.dat", &DosPackageSpec::MeFiles, 6}, {"uMEbin.dat", &DosPackageSpec::MeFiles, 6},
        {"ME.LOG", &DosPackageSpec::MeFiles, 6},    {"error.log", &DosPackageSpec::Tools, 4},
    };
    for (const Case &c : cases) {
        DosPackageSpec spec = SampleDosPackage();
        (spec.*c.files).push_back(NamedFile(c.name, {'x'}));
        Package(spec);
        dos.out.clear();
        dos.commands.clear();
        EXPECT_EQ(Run({"/factory"}), c.code) << c.name;
        EXPECT_TRUE(dos.out.ends_with("\nThe package holds a file named like a work file of this program: " +
                                      c.name + ". Exit the Flash!"))
            << dos.out;
        EXPECT_TRUE(dos.commands.empty()) << c.name;
        EXPECT_EQ(Files(), Names{}) << c.name;
    }
    // A name that only starts like one is an ordinary file.
    DosPackageSpec spec = SampleDosPackage();
    spec.Tools.push_back(NamedFile("waste2.dat", {'x'}));
    Package(spec);
    EXPECT_EQ(Run({"/factory"}), 0);
}

// A second copy of any resource is refused where it is found, and what the
// first copies unpacked is removed: nothing of either stays.
TEST_F(DosRun, ASecondCopyOfAResourceIsRefusedAndEverythingUnpackedRemoved) {
    ResourceSet set = BuildDosResources(SampleDosPackage());
    DosPackageSpec other = SampleDosPackage();
    other.Tools = {NamedFile("other.exe", {'o'})};
    ResourceSet second = BuildDosResources(other);
    const struct {
        uint16_t id;
        int code;
        std::string name;
    } cases[] = {{DosPackage, 4, "DOS package"},
                 {BiosPackage, 4, "BIOS package"},
                 {OptionResource, 3, "option block"},
                 {MePackage, 6, "ME package"}};
    for (const auto &c : cases) {
        std::vector<uint8_t> file(3000, 'x');
        size_t secondAt = 0;
        // The resource of the case comes first: the scan stops at the fourth kind.
        std::vector<uint16_t> order = {c.id};
        for (uint16_t id : {DosPackage, BiosPackage, OptionResource, MePackage})
            if (id != c.id) order.push_back(id);
        for (uint16_t id : order) {
            file.insert(file.end(), set[id].begin(), set[id].end());
            file.insert(file.end(), 8, 0);
            if (id == c.id) {
                secondAt = file.size();
                file.insert(file.end(), second[id].begin(), second[id].end());
                file.insert(file.end(), 8, 0);
            }
        }
        file.insert(file.end(), 32, 0);
        WriteBytes(dos.ownFile, file);
        dos.out.clear();
        EXPECT_EQ(Run({"/factory"}), c.code) << c.name;
        EXPECT_TRUE(dos.out.ends_with("\nThe file holds a second " + c.name + " at offset " +
                                      std::to_string(secondAt) + ". Exit the Flash!"))
            << dos.out;
        EXPECT_EQ(Files(), Names{}) << c.name;
    }
}

// Body lengths of 2^31 and more run past the end of the file: the body is
// what the file holds, and the scan ends there instead of starting again.
TEST_F(DosRun, BodyLengthsOfTwoGigabytesAndMoreEndTheScan) {
    for (uint32_t length : {0x80000000u, 0xFFFFFFFFu}) {
        ClearWork();
        ResourceSet set = BuildDosResources(SampleDosPackage());
        PutU32(set[DosPackage].data() + kTagLength, length);
        WriteOwnFile(set);
        dos.out.clear();
        EXPECT_EQ(Run({"/factory"}), 3) << length;
        EXPECT_TRUE(dos.out.ends_with("\nDecompress the EXE file OK.\nCan not find useful file to flash BIOS or ME."))
            << dos.out;
        EXPECT_EQ(Files(), Names{});

        // The last resource may claim any length: the scan is over by then.
        set = BuildDosResources(SampleDosPackage());
        PutU32(set[MePackage].data() + kTagLength, length);
        WriteOwnFile(set);
        EXPECT_EQ(Run({"/factory"}), 0) << length;
    }
}

namespace {

std::vector<uint8_t> Noise(size_t size) {
    std::mt19937 rng(3);
    std::vector<uint8_t> bytes(size);
    for (auto &b : bytes) b = uint8_t(rng());
    return bytes;
}

// A run in a child process whose files may grow to `limit` bytes at most:
// a write beyond fails as on a full disk, at the same byte every time.
int DosRunLimited(FakeDos &dos, rlim_t limit, std::vector<const char *> args) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) return -1;
    pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeFds[0]);
        rlimit r{limit, limit};
        ::setrlimit(RLIMIT_FSIZE, &r);
        ::signal(SIGXFSZ, SIG_IGN);
        args.insert(args.begin(), "package.run");
        int code = DosUpdaterMain(int(args.size()), args.data(), dos);
        for (size_t done = 0; done < dos.out.size();) {
            ssize_t n = ::write(pipeFds[1], dos.out.data() + done, dos.out.size() - done);
            if (n <= 0) break;
            done += size_t(n);
        }
        ::_exit(code);
    }
    ::close(pipeFds[1]);
    dos.out.clear();
    char buffer[4096];
    for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;) dos.out.append(buffer, size_t(n));
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

// The transfer buffer is memory the machine may not have: without it the
// run ends at the filler step, before anything is written.
TEST_F(DosRun, NoMemoryForTheTransferBufferEndsBeforeTheFiller) {
    Package(SampleDosPackage());
    dos.transfer.refuse = true;
    EXPECT_EQ(Run({"/factory"}), 1);
    EXPECT_EQ(dos.out, "\nDON'T POWER OFF the system during the update process."
                       "\nNot enough memory for the 51200-byte transfer buffer.");
    EXPECT_EQ(Files(), Names{});
}

// Every write of the filler and the scratch files is checked: a full disk
// fails the step that writes, which removes what it and the steps before
// it made, instead of showing later as a damaged stream or package.
TEST_F(DosRun, AFullDiskFailsTheStepThatWrites) {
    Package(SampleDosPackage());
    EXPECT_EQ(DosRunLimited(dos, 1 << 20, {"/factory"}), 1);
    EXPECT_EQ(dos.out, "\nDON'T POWER OFF the system during the update process.\nfail to write waste.dat: the disk is full");
    EXPECT_EQ(Files(), Names{});

    // Files of 8,000,000 bytes fit the filler (7,680,000), not these bodies.
    constexpr rlim_t kLimit = 8000000;
    DosPackageSpec spec = SampleDosPackage();
    spec.BiosFiles[0].Bytes = Noise(kLimit + 1000);
    Package(spec);
    EXPECT_EQ(DosRunLimited(dos, kLimit, {"/factory"}), 4);
    EXPECT_TRUE(dos.out.ends_with("\nFail to write bin.dat: the disk is full. Exit the Flash!")) << dos.out;
    EXPECT_EQ(Files(), Names{});   // the tools unpacked before go too

    spec = SampleDosPackage();
    spec.Tools.push_back(NamedFile("big.dat", Noise(kLimit + 1000)));
    Package(spec);
    EXPECT_EQ(DosRunLimited(dos, kLimit, {"/factory"}), 4);
    EXPECT_TRUE(dos.out.ends_with("\nFail to write dosexe.dat: the disk is full. Exit the Flash!")) << dos.out;
    EXPECT_EQ(Files(), Names{});

    // A package that inflates to more than fits: not a damaged stream.
    spec = SampleDosPackage();
    spec.MeFiles.push_back(NamedFile("zeros.bin", std::vector<uint8_t>(kLimit + 1000, 0)));
    Package(spec);
    EXPECT_EQ(DosRunLimited(dos, kLimit, {"/factory"}), 6);
    EXPECT_TRUE(dos.out.ends_with("\nFail to write uMEbin.dat: the disk is full. Exit the Flash!")) << dos.out;
    EXPECT_EQ(Files(), Names{});
}

// A stop request (Ctrl-C, SIGTERM on Linux) ends the run with its own exit
// code and the cleanup every other exit has; nothing is started after it.
TEST_F(DosRun, AStopRequestEndsTheRunWithTheCleanupOfAnyOtherExit) {
    Package(SampleDosPackage());
    dos.keys = "x!";
    EXPECT_EQ(Run(), 143);
    EXPECT_TRUE(dos.out.ends_with("\nUpdate BIOS(Yes/No)?")) << dos.out;
    EXPECT_EQ(Files(), Names{});
    EXPECT_TRUE(dos.commands.empty());

    // At the restart question the end's own cleanup has run; the files stay
    // as after a no.
    dos.stop = 0;
    dos.keys = "y!";
    EXPECT_EQ(Run(), 143);
    EXPECT_EQ(dos.commands.size(), 3u);
    EXPECT_EQ(dos.restarts, 0);
    EXPECT_EQ(Files(), (Names{"bios.bin", "flash.exe", "me.bin", "me.log", "meinfo.exe", "meupd.exe"}));

    // One that comes while the files are written ends the run at once:
    // the next file is not started and every file written is removed.
    ClearWork();
    dos.stop = 0;
    dos.commands.clear();
    dos.out.clear();
    dos.runnable.clear();
    dos.onRunnable = [this] { dos.stop = 130; };
    EXPECT_EQ(Run({"/factory"}), 130);
    EXPECT_TRUE(dos.out.ends_with("\nDecompress the ME bin file OK.")) << dos.out;
    EXPECT_EQ(dos.runnable, Names{"flash.exe"});
    EXPECT_EQ(Files(), Names{});
    EXPECT_TRUE(dos.commands.empty());

    // One that comes during the wait before an unasked restart: no restart.
    ClearWork();
    dos.stop = 0;
    dos.commands.clear();
    struct StopInDelay : FakeDos {
        void Delay(unsigned ms) override {
            FakeDos::Delay(ms);
            stop = 130;
        }
    };
    StopInDelay waiting;
    waiting.ownFile = dos.ownFile;
    waiting.memoryBlock = dos.memoryBlock;
    waiting.tool = dos.tool;
    const char *nopause[] = {"package.run", "/nopause"};
    EXPECT_EQ(DosUpdaterMain(2, nopause, waiting), 130);
    EXPECT_EQ(waiting.restarts, 0);
    EXPECT_EQ(waiting.commands.size(), 3u);
    ClearWork();   // what a run that got that far leaves stays, as after a no

    // One that comes while the ME information tool runs: no update follows.
    dos.stop = 0;
    dos.onRunnable = [] {};
    dos.tool = [this](const std::string &c) {
        if (c.find("> me.log") != std::string::npos) dos.stop = 143;
        return 0;
    };
    EXPECT_EQ(Run({"/factory"}), 143);
    EXPECT_EQ(dos.commands, (Names{"flash.exe bios.bin  /P /B", "meinfo.exe > me.log"}));
    EXPECT_EQ(Files(), Names{});
}

// Names DOS would not create as they stand, device names and the package's
// own name are refused by the step that reads them, before any file of any
// package is written; the Linux build refuses the same names.
TEST_F(DosRun, NamesDosCannotTakeAsTheyStandAreRefusedBeforeAnythingIsWritten) {
    const std::string unusable = "\nThe package holds a file whose name DOS cannot create as it stands";
    const std::string device = "\nThe package holds a file named like a DOS device: ";
    const struct {
        std::string name, why;
    } cases[] = {
        {"toolong12.exe", unusable}, {"a.exe.", unusable},   {"a.", unusable},       {" lead.exe", unusable},
        {"trail ", unusable},        {"tab\t.exe", unusable}, {"caf\xc3\xa9.exe", unusable},
        {"a*.exe", unusable},        {"a?.exe", unusable},   {"a>b.exe", unusable},  {"a|b", unusable},
        {"a.b.c", unusable},         {"a\"b", unusable},     {"a+b", unusable},      {"name.four", unusable},
        {"CON", device},             {"con.txt", device},    {"Nul.Bin", device},    {"clock$", device},
        {"COM1.EXE", device},        {"lpt9", device},       {"aux.", unusable},     {"PRN.X", device},
        {"package.run", "\nThe package holds a file named like this program's own file: "},
        {"PACKAGE.RUN", "\nThe package holds a file named like this program's own file: "},
    };
    for (const auto &c : cases) {
        for (bool me : {false, true}) {
            DosPackageSpec spec = SampleDosPackage();
            (me ? spec.MeFiles : spec.Tools).push_back(NamedFile(c.name, {'x'}));
            Package(spec);
            dos.out.clear();
            dos.commands.clear();
            EXPECT_EQ(Run({"/factory"}), me ? 6 : 4) << c.name;
            EXPECT_TRUE(Printed(c.why)) << c.name << dos.out;
            EXPECT_TRUE(dos.commands.empty()) << c.name;
            EXPECT_EQ(Files(), Names{}) << c.name;
        }
    }
    // Names that only look like devices are files; the longest 8.3 names fit.
    for (const char *extra : {"com10", "lpt0.exe", "console", "nul1", "abcdefgh.ijk", "$#!&@^_~.{}`"}) {
        DosPackageSpec spec = SampleDosPackage();
        spec.Tools.push_back(NamedFile(extra, {'x'}));
        Package(spec);
        ClearWork();
        dos.out.clear();
        EXPECT_EQ(Run({"/factory"}), 0) << extra << dos.out;
        EXPECT_EQ(ReadBytes(extra), std::vector<uint8_t>{'x'}) << extra;
    }
}

// Two records that DOS keeps as one file (any case) would overwrite each
// other: an image written over a tool would then be run as the tool.
TEST_F(DosRun, RecordsThatLandOnOneDosFileAreRefusedBeforeAnythingIsWritten) {
    const struct {
        std::vector<PackageFile> DosPackageSpec::*files;
        std::string name;
        int code;
    } cases[] = {{&DosPackageSpec::BiosFiles, "FLASH.EXE", 4},
                 {&DosPackageSpec::MeFiles, "Flash.Exe", 6},
                 {&DosPackageSpec::MeFiles, "BIOS.BIN", 6},
                 {&DosPackageSpec::Tools, "MEUPD.exe", 4}};
    for (const auto &c : cases) {
        DosPackageSpec spec = SampleDosPackage();
        (spec.*c.files).push_back(NamedFile(c.name, {'M', 'Z'}));
        Package(spec);
        dos.out.clear();
        dos.commands.clear();
        EXPECT_EQ(Run({"/factory"}), c.code) << c.name;
        EXPECT_TRUE(Printed("\nThe package holds two files that DOS would keep as one: ")) << dos.out;
        EXPECT_TRUE(Printed(" and " + c.name + ". Exit the Flash!")) << dos.out;
        EXPECT_TRUE(dos.commands.empty()) << c.name;
        EXPECT_EQ(Files(), Names{}) << c.name;
    }
}

// A file already in the folder under a packaged name is never overwritten
// or removed: one that differs stops the run before anything is written;
// one with the package's bytes is used as it is, and stays afterwards.
TEST_F(DosRun, FilesAlreadyThereAreNeverOverwrittenOrRemoved) {
    DosPackageSpec spec = SampleDosPackage();
    spec.Options.Flags = 0x1;   // delete at end
    Package(spec);
    WriteText("meupd.exe", "a user's own program");
    EXPECT_EQ(Run({"/factory"}), 4);
    EXPECT_TRUE(dos.out.ends_with("\nA file named meupd.exe is already here and differs from the packaged one. "
                                  "Exit the Flash!")) << dos.out;
    EXPECT_EQ(Files(), Names{"meupd.exe"});
    EXPECT_EQ(ReadBytes("meupd.exe"), std::vector<uint8_t>({'a', ' ', 'u', 's', 'e', 'r', '\'', 's', ' ', 'o', 'w',
                                                            'n', ' ', 'p', 'r', 'o', 'g', 'r', 'a', 'm'}));
    EXPECT_TRUE(dos.commands.empty());

    // A folder of that name is no leftover either.
    std::filesystem::remove("meupd.exe");
    std::filesystem::create_directory("bios.bin");
    dos.out.clear();
    EXPECT_EQ(Run({"/factory"}), 4);
    EXPECT_TRUE(Printed("\nA file named bios.bin is already here")) << dos.out;
    EXPECT_EQ(Files(), Names{"bios.bin"});
    std::filesystem::remove("bios.bin");

    // A byte-identical leftover of an earlier run is used and kept.
    WriteBytes("me.bin", SampleDosPackage().MeFiles[0].Bytes);
    dos.out.clear();
    EXPECT_EQ(Run({"/factory"}), 0) << dos.out;
    EXPECT_EQ(dos.commands.size(), 3u);
    EXPECT_EQ(Files(), Names{"me.bin"});
}

// A package without DOS tools (built for Windows only, or crafted) ends
// before anything is written or run; only programs of the DOS tool package,
// named exactly as their records, are ever started.
TEST_F(DosRun, OnlyProgramsOfTheDosToolPackageAreRun) {
    const struct {
        std::function<void(DosPackageSpec &)> craft;
        std::string line;
    } cases[] = {
        {[](DosPackageSpec &s) { s.Options.DosFlashProgram = ""; }, "\nThe package holds no DOS flash tools."},
        {[](DosPackageSpec &s) { s.Tools.clear(); }, "\nThe package holds no DOS flash tools."},
        {[](DosPackageSpec &s) { s.Options.DosFlashProgram = "bios.bin"; },
         "\nThe DOS flash program is not a program among the package's DOS tools: bios.bin."},
        {[](DosPackageSpec &s) { s.Options.DosFlashProgram = "FLASH.EXE"; },
         "\nThe DOS flash program is not a program among the package's DOS tools: FLASH.EXE."},
        {[](DosPackageSpec &s) { s.Options.DosFlashProgram = "flash.exe > x"; },
         "\nThe DOS flash program is not a program among the package's DOS tools: flash.exe > x."},
        {[](DosPackageSpec &s) { s.Options.DosFlashProgram = "..\\flash.exe"; },
         "\nThe DOS flash program is not a program among the package's DOS tools: ..\\flash.exe."},
        {[](DosPackageSpec &s) { s.Tools.push_back(NamedFile("notes.txt", {'x'})); s.Options.DosMeQueryTool = "notes.txt"; },
         "\nThe DOS ME information tool is not a program among the package's DOS tools: notes.txt."},
        {[](DosPackageSpec &s) { s.Options.DosMeQueryTool = ""; }, "\nThe package names no DOS ME information tool."},
        {[](DosPackageSpec &s) { s.Options.DosMeUpdateTool = ""; }, "\nThe package names no DOS ME update tool."},
    };
    for (const auto &c : cases) {
        DosPackageSpec spec = SampleDosPackage();
        c.craft(spec);
        Package(spec);
        dos.out.clear();
        dos.commands.clear();
        EXPECT_EQ(Run({"/factory"}), 4) << c.line;
        EXPECT_TRUE(dos.out.ends_with(c.line + " Exit the Flash!")) << dos.out;
        EXPECT_TRUE(dos.commands.empty()) << c.line;
        EXPECT_EQ(Files(), Names{}) << c.line;
    }
}

// Which tools are programs is the platform's answer: the UEFI shell's
// (.efi, .nsh) run there, DOS's (.exe) are refused there, and the other
// way round; the shell's me.log is UCS-2 with a byte-order mark.
TEST_F(DosRun, ThePlatformNamesThePrograms) {
    DosPackageSpec spec = SampleDosPackage();
    spec.Tools = {NamedFile("flash.efi", {'f'}), NamedFile("meinfo.NSH", {'i'}), NamedFile("meupd.Efi", {'u'})};
    spec.Options.DosFlashProgram = "flash.efi";
    spec.Options.DosMeQueryTool = "meinfo.NSH";
    spec.Options.DosMeUpdateTool = "meupd.Efi";
    Package(spec);
    EXPECT_EQ(Run({"/factory"}), dos_exit::ToolOrBiosPackage);
    EXPECT_TRUE(dos.out.ends_with("The DOS flash program is not a program among the package's DOS tools: flash.efi. Exit the Flash!"))
        << dos.out;

    dos.programs = kUefiProgramExtensions;
    dos.tool = [](const std::string &c) {
        if (c.find("> me.log") == std::string::npos) return 0;
        std::string line = "FW Version:";
        line.resize(40, ' ');
        std::string text = "ME tool \xE9\r\n" + line + "11.8.50.3400\r\n", wide = "\xFF\xFE";
        for (char ch : text) wide += std::string{ch, '\0'};
        WriteText("me.log", wide);
        return 0;
    };
    dos.out.clear();
    EXPECT_EQ(Run({"/factory"}), 0) << dos.out;
    EXPECT_EQ(dos.commands, (Names{"flash.efi bios.bin  /P /B", "meinfo.NSH > me.log", "meupd.Efi -F me.bin"}));
    EXPECT_TRUE(Printed("\nCurrent ME version: 11.8.50.3400\nThe New ME version: 11.8.50.3425")) << dos.out;

    Package(SampleDosPackage());
    ClearWork();
    dos.commands.clear();
    dos.out.clear();
    EXPECT_EQ(Run({"/factory"}), dos_exit::ToolOrBiosPackage);
    EXPECT_TRUE(dos.commands.empty());
    EXPECT_TRUE(dos.out.ends_with("The DOS flash program is not a program among the package's DOS tools: flash.exe. Exit the Flash!"))
        << dos.out;
}

// A tool that did not end normally (a break, a critical-error abort,
// staying resident; a signal on Linux) has not done its job.
TEST_F(DosRun, AToolThatEndedAbnormallyHasFailed) {
    Package(SampleDosPackage());
    auto abortIf = [this](const std::string &program) {
        dos.tool = [this, program](const std::string &c) {
            if (c.find("> me.log") != std::string::npos) {
                std::string line = "FW Version:";
                line.resize(40, ' ');
                WriteText("me.log", line + meVersion + "\n");
            }
            return c.starts_with(program) ? kCommandAborted : 0;
        };
    };
    abortIf("flash.exe");
    EXPECT_EQ(Run({"/nopause"}), 13);
    EXPECT_TRUE(dos.out.ends_with("\nflash.exe bios.bin  /P /B run fail\n")) << dos.out;
    EXPECT_EQ(dos.commands, Names{"flash.exe bios.bin  /P /B"});   // no ME step, no restart
    EXPECT_EQ(dos.restarts, 0);
    EXPECT_EQ(Files(), Names{});

    // The information tool's log is not read: the current version is 0.0.0.0.
    abortIf("meinfo.exe");
    dos.commands.clear();
    dos.out.clear();
    EXPECT_EQ(Run({"/factory"}), 0);
    EXPECT_FALSE(Printed("Current ME version"));
    EXPECT_EQ(dos.commands.back(), "meupd.exe -F me.bin");

    abortIf("meupd.exe");
    ClearWork();
    dos.commands.clear();
    dos.out.clear();
    EXPECT_EQ(Run({"/nopause"}), 19);
    EXPECT_TRUE(dos.out.ends_with("meupd.exe -F me.binFlash ME fail")) << dos.out;
    EXPECT_EQ(dos.restarts, 0);
    EXPECT_EQ(Files(), Names{});
}

// Keys typed before a question do not answer it; a key that is more than a
// character (Alt-2 reads as 0 and 'y' on DOS) is no letter.
TEST_F(DosRun, OnlyAKeyPressedAtAQuestionAnswersIt) {
    Package(SampleDosPackage());
    dos.typeAhead = "yyyy";
    dos.keys = std::string(1, 'n');
    EXPECT_EQ(Run(), 12);
    EXPECT_TRUE(dos.out.ends_with("\nUpdate BIOS(Yes/No)?n")) << dos.out;

    struct ExtendedKeys : FakeDos {
        int extended = 2;
        int ReadKey() override { return extended-- > 0 ? 0x100 | 'y' : FakeDos::ReadKey(); }
    };
    ExtendedKeys keys;
    keys.ownFile = dos.ownFile;
    keys.memoryBlock = dos.memoryBlock;
    keys.keys = "N";
    const char *args[] = {"package.run"};
    EXPECT_EQ(DosUpdaterMain(1, args, keys), 12);
    EXPECT_EQ(keys.beeps, 2);
    EXPECT_TRUE(keys.commands.empty());
}

// The system names are compared whole, however long: names that agree in
// the record's 20 characters and differ after them are different systems.
TEST_F(DosRun, SystemNamesAreComparedWhole) {
    const std::string twenty = "BOARD-X-0123456789AB";
    dos.memoryBlock = "$FB$VENDOR$A04$20261207$R01$" + twenty + "-ONE$" + std::string("\x01\x00", 2);
    DosPackageSpec spec = SampleDosPackage();
    spec.Options.IdString = "$FB$VENDOR$A05$20261207$R01$" + twenty + "-TWO$0001";
    Package(spec);
    EXPECT_EQ(Run({"/factory"}), 9);
    EXPECT_TRUE(Printed("\nThe Current System:" + twenty + "-ONE\nThe File System:" + twenty + "-TWO\n"))
        << dos.out;
    spec.Options.IdString = "$FB$VENDOR$A05$20261207$R01$" + twenty + "-ONE$0001";
    Package(spec);
    dos.out.clear();
    EXPECT_EQ(Run({"/factory"}), 0) << dos.out;
}

// A PE's resource data may lie back to back: each tag then begins on the
// first byte after the body before it, and is found there.
TEST_F(DosRun, ResourcesBackToBackAreAllFound) {
    ResourceSet set = BuildDosResources(SampleDosPackage());
    WriteOwnFile(set, 0);
    EXPECT_EQ(Run({"/factory"}), 0) << dos.out;
    EXPECT_FALSE(Printed("Can not find useful file"));
    EXPECT_EQ(dos.commands.size(), 3u);
}
