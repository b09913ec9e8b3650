// What the application shell keeps for the whole run.
#pragma once

#include <windows.h>

#include "wavfile/file_access.h"

namespace tonvarel {

extern HINSTANCE appInstance;
extern HWND mainWindow;

// The file commands' process-lifetime access object and the path the load and save choosers
// share (defined in main_win32.cpp, after the output stream).
extern FileAccess fileAccess;
extern char chosenPath[kPathChars];

}  // namespace tonvarel
