#include "dialog/startup.h"

#include <algorithm>
#include <cstdio>

#include "dialog/load_option_block.h"
#include "dialog/message_handlers.h"
#include "dialog/result_log.h"
#include "payload/option_block.h"
#include "run/dialog_updates.h"
#include "run/folder_tree.h"
#include "run/run_options.h"
#include "run/temp_names.h"

namespace fwpack {

namespace {

void ShowBox(DialogContext &context, std::string_view text, std::string_view caption,
             BoxIcon icon) {
    context.Boxes.Show(text, caption, icon, BoxButtons::Ok);
}

}  // namespace

std::string WindowTitleFor(std::string_view modulePath) {
    // The module path as the program's 200-byte title buffer holds it.
    std::string_view path = modulePath.substr(0, std::min(modulePath.size(), kTitleBufferSize - 1));
    size_t slash = path.rfind('\\');
    std::string_view base = slash == std::string_view::npos ? path : path.substr(slash + 1);
    size_t dot = base.rfind('.');
    return std::string(dot == std::string_view::npos ? base : base.substr(0, dot));
}

std::string_view ArgumentText(std::string_view commandLine) {
    auto atOrBelowSpace = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
    size_t i = 0, n = commandLine.size();
    if (i < n && commandLine[i] == '"') {
        ++i;
        while (i < n && commandLine[i] != '"') ++i;
        if (i < n) ++i;   // the closing quotation mark
    } else {
        while (i < n && !atOrBelowSpace(commandLine[i])) ++i;
    }
    while (i < n && atOrBelowSpace(commandLine[i])) ++i;
    return commandLine.substr(i);
}

namespace {

// "/log=PATH" and "/exitcodes" are read first, so that the log holds the
// checks below and the exit codes serve their failures; the command line
// as a whole is checked in its place.
void StartRunLog(DialogContext &context, std::string_view commandLine) {
    RunState &run = context.Run;
    RunOptions admin = AdminSwitches(ArgumentText(commandLine));
    run.Options.LogPath = admin.LogPath;
    run.Options.ExitCodes = admin.ExitCodes;
    if (admin.LogPath.empty()) return;
    run.Log.Start(context.LogOut, admin.LogPath);
    run.Log.Line("fwpack updater " FWPACK_VERSION " started");
    run.Log.Line("program file: " + context.Program.ModuleFileName());
    run.Log.Line("command line: " + std::string(commandLine));
}

// ResultLog, single instance, centring, instance handle: false after a
// check failed and its box was dismissed.
bool MayRun(DialogContext &context) {
    RunState &run = context.Run;
    // The previous run's ResultLog goes first, so a log exists after this
    // start only when this start could not begin its work.
    run.ResultLogPath = ResultLogPathFor(context.Program.ModuleFileName());
    context.Files.RemoveFile(run.ResultLogPath);

    if (context.Program.MutexAlreadyExists(kInstanceMutexName)) {
        run.Log.Line("another instance is running");
        run.Outcome.store(RunOutcome::AnotherInstance);
        ShowBox(context, "Application has existed!", "Stop", BoxIcon::Warning);
        WriteFlashResult(context);
        return false;
    }

    context.Window.CenterWindow();

    if (!context.Program.HaveInstanceHandle()) {
        run.Log.Line("no instance handle");
        run.Outcome.store(RunOutcome::Failed);
        // The title is still empty here.
        ShowBox(context, "Could not get instance handle", run.WindowTitle, BoxIcon::Error);
        WriteFlashResult(context);
        return false;
    }
    return true;
}

// Icons, title and the browse button's image.
void DressWindow(DialogContext &context) {
    MainWindow &window = context.Window;
    // Icon 131 ends up large, the main icon small.
    window.SetIcon(window.MainIcon(), true);
    window.SetIcon(window.MainIcon(), false);
    context.Ui.LargeIcon = window.LoadIconResource(resource_id::LargeIcon);
    window.SetIcon(context.Ui.LargeIcon, true);

    context.Run.WindowTitle = WindowTitleFor(context.Program.ModuleFileName());
    window.SetTitle(context.Run.WindowTitle);

    context.Ui.BrowseIcon = window.LoadIconImage(resource_id::BrowseIcon, 16);
    window.SetButtonIcon(control::Browse, context.Ui.BrowseIcon);
}

// A fresh name under the temp root; whatever already has that name goes.
// TempFolderName gives "" rather than the root itself when the temp-name
// service fails, so nothing but the new name is ever deleted.
void ChooseDefaultDestination(DialogContext &context) {
    RunState &run = context.Run;
    run.DestinationFolder =
        TempFolderName(context.Files, context.Time, context.Files.TempRoot(), "_");
    DeleteFolderTree(context.Files, run.DestinationFolder);
    context.Window.SetControlText(control::Destination, run.DestinationFolder);
}

// The package's identification and what it will run, as the option block
// holds them.
void LogPackage(RunState &run) {
    if (!run.Log.On()) return;
    const ProgramOptionCopy &o = run.OptionCopy;
    char word[9];
    std::snprintf(word, sizeof word, "%08X", unsigned(run.Options.OptionWord));
    run.Log.Line("package: id string " + InQuotes(o.IdString()) + ", option word " + word +
                 ", flash program " + InQuotes(o.FlashProgram()) + ", BIOS image " +
                 InQuotes(o.BiosImageName()) + ", ME flash program " + InQuotes(o.MeFlashProgram()) +
                 ", ME image " + InQuotes(o.MeImageName()));
    run.Log.Line("destination folder: " + run.DestinationFolder);
}

}  // namespace

StartupResult RunStartupSequence(DialogContext &context) {
    RunState &run = context.Run;
    MainWindow &window = context.Window;
    const std::string commandLine = context.Program.CommandLine();
    StartRunLog(context, commandLine);
    if (!MayRun(context)) return StartupResult::Exit;
    DressWindow(context);

    run.Options.OptionWord = LoadOptionBlock(context.Resources, run.OptionCopy);
    ChooseDefaultDestination(context);
    LogPackage(run);

    if (run.Options.OptionWord & option_bit::ShowWindow)
        window.Show();
    else
        window.HideForGood();

    // Flags first, switches second: a switch can add an option, never clear one.
    ApplyOptionFlags(run.Options, run.Options.OptionWord);
    if (!ParseCommandLine(run.Options, ArgumentText(commandLine))) {
        run.Log.Line("the command line is not valid");
        run.Outcome.store(RunOutcome::BadCommandLine);
        ShowBox(context, "The command line parameter is not correct.", "Bad CommandLine",
                BoxIcon::Warning);
        return StartupResult::Exit;
    }

    window.SetTimer(kStartTimerId, kStartTimerPeriod);
    return StartupResult::Ready;
}

}  // namespace fwpack
