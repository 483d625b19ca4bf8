// Resource and control ids of the Windows program, shared by updater.rc and
// the program's code: plain macros, which the resource compiler reads too,
// and below them the typed names the code uses, hidden from the resource
// compiler, which knows no C++.
#pragma once

// Dialog template of ExtractorDialog.
#define IDD_EXTRACTOR 102

// Icons: 128 the main icon (32x32, 16x16), 131 the large window icon
// (16x16, 32x32), 132 the browse button's image (16x16).
#define IDI_MAIN 128
#define IDI_LARGE 131
#define IDI_BROWSE 132

// Controls of dialog 102.
#define IDC_GO 1000
#define IDC_CANCEL_RUN 1001
#define IDC_BROWSE 1002
#define IDC_PROGRESS 1003
#define IDC_PLEASE_WAIT 1004
#define IDC_EXTRACT_HERE 1005
#define IDC_DESTINATION 1006
#define IDC_PERCENT 1008
#define IDC_STATUS 1009
#define IDC_NOTICE (-1)

#ifndef RC_INVOKED
namespace fwpack {

namespace resource_id {
inline constexpr int Dialog = IDD_EXTRACTOR, MainIcon = IDI_MAIN, LargeIcon = IDI_LARGE,
                     BrowseIcon = IDI_BROWSE;
}

namespace control {
inline constexpr int Go = IDC_GO, Cancel = IDC_CANCEL_RUN, Browse = IDC_BROWSE,
                     Progress = IDC_PROGRESS, PleaseWait = IDC_PLEASE_WAIT,
                     ExtractHere = IDC_EXTRACT_HERE, Destination = IDC_DESTINATION,
                     Percentage = IDC_PERCENT, Status = IDC_STATUS;
}

}  // namespace fwpack
#endif
