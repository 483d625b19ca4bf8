// The POSIX file layer: FILETIME mapping, temp names, whole-file I/O, copy
// and the recursive delete.
#include <csignal>
#include <filesystem>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/builder_files.h"
#include "platform/posix/posix_files.h"
#include "support/test_files.h"

namespace fwpack {
namespace {

TEST(PosixFiles, FileTimeMapping) {
    EXPECT_EQ(FileTimeFromUnix(0, 0), 116444736000000000ULL);
    EXPECT_EQ(FileTimeFromUnix(1, 999), 116444736010000009ULL);
    EXPECT_EQ(FileTimeFromUnix(-11644473601LL, 0), 0u);   // before 1601: clamped
    int64_t s = 0, ns = 0;
    UnixFromFileTime(126200000012345678ULL, s, ns);
    EXPECT_EQ(ns, 234567800);   // the 100 ns units below a second
    EXPECT_EQ(FileTimeFromUnix(s, ns), 126200000012345678ULL);
    UnixFromFileTime(0, s, ns);
    EXPECT_EQ(s, -11644473600LL);
}

// Every FILETIME survives the trip through Unix time, before 1970 and at
// both ends of its range; only Unix times FILETIME cannot hold are clamped.
TEST(PosixFiles, FileTimeRoundTripLosesNothing) {
    const uint64_t kEpoch1970 = FileTimeFromUnix(0, 0);
    const uint64_t kCases[] = {0, 1, kEpoch1970 - 1, kEpoch1970,
                               kEpoch1970 - uint64_t(10000000) * 86400 * 365 * 5 + 1234567,
                               UINT64_MAX - 1, UINT64_MAX};
    for (uint64_t ft : kCases) {
        int64_t s = 0, ns = 0;
        UnixFromFileTime(ft, s, ns);
        EXPECT_EQ(FileTimeFromUnix(s, ns), ft) << ft;
        timespec t = TimespecFromFileTime(ft);
        EXPECT_EQ(t.tv_sec, s);
        EXPECT_EQ(t.tv_nsec, ns);
    }
    int64_t s = 0, ns = 0;
    UnixFromFileTime(kEpoch1970 - 5, s, ns);   // half a microsecond before 1970
    EXPECT_EQ(s, -1);
    EXPECT_EQ(ns, 999999500);

    UnixFromFileTime(UINT64_MAX, s, ns);
    EXPECT_EQ(FileTimeFromUnix(s, ns + 100), UINT64_MAX);   // one step past the end
    EXPECT_EQ(FileTimeFromUnix(s + 1, 0), UINT64_MAX);
    EXPECT_EQ(FileTimeFromUnix(INT64_MAX, 999999999), UINT64_MAX);
    EXPECT_EQ(FileTimeFromUnix(-11644473600LL, 99), 0u);   // 1601-01-01, below 100 ns
    EXPECT_EQ(FileTimeFromUnix(INT64_MIN, 0), 0u);
}

TEST(PosixFiles, WholeFilesTimesAndCopy) {
    test::TempDir dir;
    PosixFileSystem files(dir.path());
    EXPECT_EQ(files.TempRoot(), dir.path() + "/");
    const std::vector<uint8_t> bytes = test::SampleBytes(10000);
    FileTimes t{126000000000000000ULL, 126100000000000000ULL, 126200000000000000ULL};
    EXPECT_EQ(files.WriteWholeFile(dir / "a", bytes, &t), bytes.size());
    FileTimes got = test::FileTimesOf(dir / "a");
    EXPECT_EQ(got.LastWrite, t.LastWrite);
    EXPECT_EQ(got.LastAccess, t.LastAccess);

    std::vector<uint8_t> back{9};
    EXPECT_TRUE(files.ReadWholeFile(dir / "a", back));
    EXPECT_EQ(back, bytes);
    EXPECT_FALSE(files.ReadWholeFile(dir / "missing", back));
    EXPECT_TRUE(back.empty());
    EXPECT_FALSE(files.ReadWholeFile(dir.path(), back));   // a folder is no file
    EXPECT_FALSE(files.WriteWholeFile(dir / "no/such", bytes));

    test::WriteBytes(dir / "b", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
    EXPECT_TRUE(files.CopyFileOver(dir / "a", dir / "b"));   // replaced, not merged
    EXPECT_EQ(test::ReadBytes(dir / "b"), bytes);
    EXPECT_EQ(test::FileTimesOf(dir / "b").LastWrite, t.LastWrite);
    EXPECT_FALSE(files.CopyFileOver(dir / "missing", dir / "c"));
    EXPECT_FALSE(test::FileExists(dir / "c"));
}

TEST(PosixFiles, TempNamesFoldersAndTrees) {
    test::TempDir dir;
    PosixFileSystem files(dir.path() + "/");
    std::string root = dir.path() + "/";
    EXPECT_EQ(files.TempFileName(root, "0$_$_", 0x12ABCD), root + "0$_ABCD.TMP");
    EXPECT_EQ(files.TempFileName(root, "_", 0x10005), root + "_5.TMP");
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
    // Low 16 bits zero: a free name is picked and created.
    auto made = files.TempFileName(root, "_", 0x30000);
    ASSERT_TRUE(made);
    EXPECT_TRUE(test::FileExists(*made));
    EXPECT_FALSE(files.TempFileName(root + "none/", "_", 0));
    EXPECT_FALSE(files.TempFileName(root + std::string(250, 'x'), "_", 1));

    std::string tree = root + "t/";
    EXPECT_TRUE(files.CreateFolder(tree));
    EXPECT_FALSE(files.CreateFolder(tree));
    EXPECT_TRUE(files.Exists(tree) && files.Exists(root + "t"));
    EXPECT_FALSE(files.Exists(""));
    test::WriteBytes(tree + "f", {1});
    EXPECT_FALSE(files.RemoveFolder(tree));   // not empty
    EXPECT_FALSE(files.RemoveFile(tree));     // not a file
    // A link inside the tree goes; what it points at stays.
    test::WriteBytes(root + "outside", {2});
    std::filesystem::create_directory_symlink(root, tree + "link");
    EXPECT_TRUE(files.DeleteTree(root + "t"));
    EXPECT_FALSE(files.Exists(tree));
    EXPECT_TRUE(test::FileExists(root + "outside"));
    EXPECT_FALSE(files.DeleteTree(root + "t"));

    auto cwd = files.WorkingDirectory();
    ASSERT_TRUE(cwd);
    EXPECT_TRUE(files.SetWorkingDirectory(root));
    EXPECT_TRUE(files.Exists("outside"));
    EXPECT_TRUE(files.SetWorkingDirectory(*cwd));
    EXPECT_FALSE(files.SetWorkingDirectory(root + "none"));
}

// A write that fails part-way (a full disk; here a file size limit, which
// fails the same write) names the file the user asked for, not the
// temporary beside it, and leaves no temporary.
TEST(PosixFiles, AFailedWriteNamesTheDestination) {
    test::TempDir dir;
    const std::string target = dir.path() + "/package.exe";
    int pipefd[2];
    ASSERT_EQ(::pipe(pipefd), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{4096, 4096};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        std::string error;
        const bool ok = WriteFileAtomically(target, std::vector<uint8_t>(65536, 1), error);
        if (!ok) (void)!::write(pipefd[1], error.data(), error.size());
        ::_exit(ok ? 1 : 0);
    }
    ::close(pipefd[1]);
    std::string error;
    char buffer[512];
    for (ssize_t n; (n = ::read(pipefd[0], buffer, sizeof buffer)) > 0;) error.append(buffer, size_t(n));
    ::close(pipefd[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the write did not fail";
    EXPECT_NE(error.find("cannot write " + target + ": "), std::string::npos) << error;
    EXPECT_EQ(error.find(".fwpack-"), std::string::npos) << error;
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

}  // namespace
}  // namespace fwpack
