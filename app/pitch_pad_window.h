// The main window: the pitch pad, its semitone scale and the menu commands.
#pragma once

#include <windows.h>

namespace tonvarel {

LRESULT CALLBACK pitchPadProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace tonvarel
