// Resource identifiers shared by tonvarel.rc and the window code.
// Plain #defines only: the resource compiler reads this file too.
#ifndef TONVAREL_APP_RESOURCES_RESOURCE_H_
#define TONVAREL_APP_RESOURCES_RESOURCE_H_

// The window class's menu and the accelerator table share one number.
#define IDR_MAIN_MENU 109
#define IDR_ACCELERATORS 109

#define IDD_ABOUTBOX 103

// String table: the window title and the window class name.
#define IDS_APP_TITLE 103
#define IDS_CLASS_NAME 109

// Both icon groups hold the same eight pictures; 107 is the class's large icon and the one the
// About box shows, 108 its small icon.
#define IDI_LARGE_ICON 107
#define IDI_SMALL_ICON 108

// Menu and accelerator commands, dispatched by the pad window's WM_COMMAND handler.
#define IDM_ABOUT 104
#define IDM_EXIT 105
#define IDM_LOAD_WAV 765
#define IDM_SAVE_TAKE 788

// The About box's icon control carries 2, the value of IDCANCEL; the dialog procedure ends the
// dialog on IDOK or IDCANCEL, and a static control never sends WM_COMMAND, so nothing clashes.
#define IDC_ABOUT_ICON 2

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

#endif  // TONVAREL_APP_RESOURCES_RESOURCE_H_
