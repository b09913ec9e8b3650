// What the application shell keeps for the whole run.
#pragma once

#include <windows.h>

#include "wavfile/file_access.h"

namespace tonvarel {

extern HINSTANCE appInstance;
extern HWND mainWindow;

}  // namespace tonvarel
