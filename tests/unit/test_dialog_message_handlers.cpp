// The dialog's handlers: minimised paint position, browse, start timer and
// cancel mode, against recording fakes.
#include <gtest/gtest.h>

#include "dialog/message_handlers.h"
#include "support/dialog_fakes.h"

namespace fwpack {
namespace {

using test::DialogFixture;

TEST(DialogMinimisedPaint, IconIsCentredWithTruncationTowardZero) {
    EXPECT_EQ(MinimisedIconPosition(40, 40, 32, 32).x, 4);
    EXPECT_EQ(MinimisedIconPosition(20, 20, 32, 32).x, -5);   // -11 / 2, not -6
    IconPosition p = MinimisedIconPosition(41, 16, 32, 32);
    EXPECT_EQ(p.x, 5);
    EXPECT_EQ(p.y, -7);   // -15 / 2
}

TEST(DialogBrowse, AChosenFolderGetsOneTrailingBackslash) {
    DialogFixture f;
    f.run.DestinationFolder = "C:\\TEMP\\_80D.TMP\\";
    f.window.picked = "D:\\out";
    BrowseForDestination(f.context);
    EXPECT_EQ(f.run.DestinationFolder, "D:\\out\\");
    EXPECT_TRUE(f.Logged("picker Extract to..."));
    EXPECT_TRUE(f.Logged("text 1006 D:\\out\\"));

    f.window.picked = "D:\\";
    BrowseForDestination(f.context);
    EXPECT_EQ(f.run.DestinationFolder, "D:\\");
    EXPECT_FALSE(f.ui.PickerOpen);
}

TEST(DialogBrowse, CancelOrNoFileSystemPathKeepsThePreviousFolder) {
    DialogFixture f;
    f.run.DestinationFolder = "C:\\TEMP\\_80D.TMP\\";
    f.window.picked = std::nullopt;
    BrowseForDestination(f.context);
    EXPECT_EQ(f.run.DestinationFolder, "C:\\TEMP\\_80D.TMP\\");
    EXPECT_EQ(f.Count("text"), 0u);

    f.window.picked = "";
    BrowseForDestination(f.context);
    EXPECT_EQ(f.run.DestinationFolder, "C:\\TEMP\\_80D.TMP\\");
    EXPECT_TRUE(f.Logged("text 1006 C:\\TEMP\\_80D.TMP\\"));
}

TEST(DialogBrowse, ThePickersOwnDisablingNeitherStopsNorStartsTheRun) {
    DialogFixture f;
    f.run.DestinationFolder = "C:\\TEMP\\_80D.TMP\\";
    f.window.picked = "E:\\fw";
    // The picker disables the window (a cancel-mode notification) and its
    // own loop keeps delivering the start timer.
    f.window.whilePickerOpen = [&] {
        OnCancelMode(f.context);
        OnStartTimer(f.context, kStartTimerId);
    };
    BrowseForDestination(f.context);
    EXPECT_EQ(f.Count("quit"), 0u);
    EXPECT_EQ(f.Count("worker"), 0u);
    EXPECT_EQ(f.Count("killtimer"), 0u);
    EXPECT_EQ(f.run.AbortFlag.load(), 0);

    // The next tick after the picker closed starts the worker with the new folder.
    OnStartTimer(f.context, kStartTimerId);
    EXPECT_TRUE(f.Logged("worker"));
    EXPECT_EQ(f.run.DestinationFolder, "E:\\fw\\");
}

TEST(DialogBrowse, ACancelModeRequestWhileThePickerIsOpenEndsTheProgram) {
    DialogFixture f;
    f.ui.LargeIcon = 131;
    f.window.picked = std::nullopt;
    f.window.whilePickerOpen = [&] {
        OnCancelMode(f.context);   // the picker disabling the window
        OnCancelMode(f.context);   // a real request
    };
    BrowseForDestination(f.context);
    EXPECT_EQ(f.Count("quit 18"), 1u);
    EXPECT_TRUE(f.Logged("destroy 131"));
    // A tick that still arrives before the loop ends starts nothing.
    OnStartTimer(f.context, kStartTimerId);
    EXPECT_EQ(f.Count("worker"), 0u);
    // Once the picker is closed, cancel mode is never swallowed.
    OnCancelMode(f.context);
    EXPECT_EQ(f.Count("quit 18"), 2u);
}

TEST(DialogStartTimer, Timer8888StartsTheWorkerOnce) {
    DialogFixture f;
    OnStartTimer(f.context, 1);
    EXPECT_TRUE(f.log.empty());

    f.run.AbortFlag = 7;
    OnStartTimer(f.context, kStartTimerId);
    EXPECT_EQ(f.log, (test::Log{"killtimer 8888", "worker"}));
    EXPECT_TRUE(f.ui.WorkerStarted);
    EXPECT_EQ(f.run.AbortFlag.load(), 0);

    OnStartTimer(f.context, kStartTimerId);   // a tick that was already queued
    EXPECT_EQ(f.Count("worker"), 1u);
}

TEST(DialogStartTimer, AWorkerThatCannotStartEndsWithCode18AndAResultLog) {
    DialogFixture f;
    f.window.workerStarts = false;
    f.run.WindowTitle = "tool.rev3";
    f.run.ResultLogPath = "C:\\pkg\\RuvazUZUR.log";
    OnStartTimer(f.context, kStartTimerId);
    const test::Log expected = {
        "killtimer 8888",
        "worker failed",
        "box Fail to create extracting process,Program aborted! | tool.rev3 | 16",
        "profile C:\\pkg\\RuvazUZUR.log [RUVAZUZUR] FlashResult=1",
        "quit 18",
    };
    EXPECT_EQ(f.log, expected);
    EXPECT_FALSE(f.ui.WorkerStarted);
}

TEST(DialogCancelMode, BeforeTheWorkerQuitsWith18AndReleasesIconsOnce) {
    DialogFixture f;
    f.ui.LargeIcon = 131;
    f.ui.BrowseIcon = 1132;
    OnCancelMode(f.context);
    EXPECT_EQ(f.log, (test::Log{"destroy 131", "destroy 1132", "quit 18"}));
    EXPECT_EQ(f.run.AbortFlag.load(), 1);
    EXPECT_EQ(f.ui.LargeIcon, 0u);
    EXPECT_EQ(f.ui.BrowseIcon, 0u);

    OnCancelMode(f.context);
    EXPECT_EQ(f.Count("destroy"), 2u);
    EXPECT_EQ(f.Count("quit 18"), 2u);

    // The start timer can still tick before the loop sees the quit request.
    OnStartTimer(f.context, kStartTimerId);
    EXPECT_EQ(f.Count("worker"), 0u);
    EXPECT_EQ(f.run.AbortFlag.load(), 1);
}

TEST(DialogCancelMode, DuringTheRunTellsTheWorkerToStopAndQuitsWith0) {
    DialogFixture f;
    f.ui.LargeIcon = 131;
    OnStartTimer(f.context, kStartTimerId);
    OnCancelMode(f.context);
    EXPECT_EQ(f.run.AbortFlag.load(), 1);
    EXPECT_TRUE(f.Logged("destroy 131"));
    EXPECT_EQ(f.log.back(), "quit 0");
}

}  // namespace
}  // namespace fwpack
