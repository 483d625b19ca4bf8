// Resource and control ids of the Windows program, shared by updater.rc and
// the program's code. Plain macros: the resource compiler reads this too.
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
