// fwpack inspect: the file-time texts, the text view of the sample, and the
// JSON view read back by python's json module, also with awkward names.
#include <gtest/gtest.h>

#include "payload/file_package.h"
#include "payload/tagged_resource.h"
#include "test_tool_support.h"
#include "platform/posix/posix_files.h"
#include "platform/builder_files.h"
#include "tools/fwpack/inspect/file_times.h"

using namespace fwpack;
using namespace fwpack::test;

namespace {

TEST(FileTimes, Iso8601AcrossCenturiesAndLeapDays) {
    EXPECT_EQ(FileTimeIso8601(0), "1601-01-01T00:00:00Z");
    EXPECT_EQ(FileTimeIso8601(FileTimeFromUnix(0, 0)), "1970-01-01T00:00:00Z");
    EXPECT_EQ(FileTimeIso8601(125911583990000000ull), "1999-12-31T23:59:59Z");
    EXPECT_EQ(FileTimeIso8601(125963012965000000ull), "2000-02-29T12:34:56.5000000Z");
    EXPECT_EQ(FileTimeIso8601(157520160000000000ull), "2100-03-01T00:00:00Z");
    EXPECT_EQ(FileTimeIso8601(134410943190000001ull), "2026-12-07T05:18:39.0000001Z");
}

// A stored time before 1970 is set as it is, not moved to 1970.
TEST(FileTimes, AppliedTimesKeepTheirValueBefore1970) {
    TempDir dir;
    const std::string path = dir / "old.bin";
    std::string error;
    ASSERT_TRUE(WriteFileAtomically(path, {1, 2, 3}, error)) << error;
    const uint64_t accessed = FileTimeFromUnix(-86400 * 365, 123456700);   // 1969
    const uint64_t written = FileTimeFromUnix(1700000000, 500);
    ASSERT_TRUE(ApplyFileTimes(path, {written, accessed, written, false}, error)) << error;
    SourceFileTimes back;
    ASSERT_TRUE(ReadSourceFileTimes(path, back, error)) << error;
    EXPECT_EQ(back.LastAccess, accessed);
    EXPECT_EQ(back.LastWrite, written);
}

class InspectSample : public ::testing::Test {
  protected:
    TempDir dir;
    std::string res;
    void SetUp() override {
        res = dir / "resources";
        ASSERT_EQ(Fwpack({"build", SampleManifest(), "--resources-dir", res}).Code, 0);
    }
    // Runs a python script on the JSON view; its stdout is the result.
    std::string PythonOnJson(const std::string &script) {
        RunResult r = Fwpack({"inspect", res, "--json"});
        EXPECT_EQ(r.Code, 0) << r.Err;
        std::string json = dir / "view.json";
        WriteBytes(json, {r.Out.begin(), r.Out.end()});
        RunResult py =
            RunProgram({"python3", "-c",
                        "import json, sys\nv = json.load(open(sys.argv[1]))\n" + script, json});
        EXPECT_EQ(py.Code, 0) << py.Err;
        return py.Out;
    }
};

TEST_F(InspectSample, TextShowsHeadersStreamsRecordsAndOptions) {
    RunResult r = Fwpack({"inspect", res});
    ASSERT_EQ(r.Code, 0) << r.Err;
    for (const char *want :
         {"2000 DosPackage", "2001 ToolPackage", "2002 BiosPackage", "2003 OptionBlock",
          "2004 MePackage", "tag           \"$_BIN_FILE_$\"",
          "zlib header   0x28 0x91: window 1024 bytes",
          "\"bios.bin\"  8192 bytes  checksum stored 0x0000E615 computed 0x0000E615 ok",
          "Flags         0x00000002 show-window",
          "IdString        \"$FB$SAMPLE$A05$20261207$R01$BOARD-X$0001\"", "\nconsistent\n"})
        EXPECT_NE(r.Out.find(want), std::string::npos) << want << "\n" << r.Out;
    // Every record shows its three times in ISO 8601 UTC.
    size_t times = 0;
    for (size_t at = r.Out.find("created 20"); at != std::string::npos;
         at = r.Out.find("created 20", at + 1))
        ++times;
    EXPECT_EQ(times, 8u);
}

TEST_F(InspectSample, JsonCarriesTheSameFacts) {
    std::string out = PythonOnJson(
        "r = {x['id']: x for x in v['resources']}\n"
        "print(v['container'], v['problems'])\n"
        "print(r[2001]['header'], r[2001]['zlib']['header'], r[2001]['zlib']['window_size'])\n"
        "h = r[2004]['header']\n"
        "print(h['tag'], h['body_length'] == h['real_body_length'] == r[2004]['size'] - 16)\n"
        "print([x['file_name'] for x in r[2000]['package']['records']])\n"
        "b = r[2002]['package']['records'][0]\n"
        "print(b['index'], b['size'], b['checksum'] == b['computed_checksum'],\n"
        "      b['last_write_time'].endswith('Z'))\n"
        "o = r[2003]['options']\n"
        "print(o['flags'], o['flag_names'], o['BiosImageName'], o['DosMeUpdateTool'])\n");
    EXPECT_EQ(out,
              "resources folder []\n"
              "None [40, 145] 1024\n"
              "$_ME__FILE_$ True\n"
              "['dosflash.exe', 'meinfo.exe', 'meupd.exe']\n"
              "0 8192 True True\n"
              "2 ['show-window'] bios.bin meupd.exe\n");
}

TEST_F(InspectSample, JsonEscapesAwkwardNamesAndReportsProblems) {
    PackageFile f;
    f.Record.FileName = std::string("a\"b\\c\t\xE9\x01");
    f.Bytes = {'x'};
    WriteBytes(res + "/2001.bin", Deflate(BuildFilePackage({f}), 10));
    std::string out = PythonOnJson(
        "r = {x['id']: x for x in v['resources']}\n"
        "print(repr(r[2001]['package']['records'][0]['file_name']))\n"
        "print(len(v['problems']))\n");
    // One problem for the name, two for the programs it no longer holds.
    EXPECT_EQ(out, "'a\"b\\\\c\\té\\x01'\n3\n");
}

TEST_F(InspectSample, ABrokenPayloadIsStillShown) {
    WriteBytes(res + "/2002.bin", {'$', '_', 'B'});
    RunResult r = Fwpack({"inspect", res});
    EXPECT_EQ(r.Code, 0);
    EXPECT_NE(r.Out.find("header        incomplete: 3 of 16 bytes"), std::string::npos) << r.Out;
    EXPECT_NE(r.Out.find("problem(s):"), std::string::npos);
    EXPECT_EQ(Fwpack({"inspect", dir / "nothing-here"}).Code, 2);
}

}  // namespace
