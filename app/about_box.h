// The modal About box.
#pragma once

#include <windows.h>

namespace tonvarel {

// Shows the About box owned by `owner` and returns once it is closed, with IDOK or IDCANCEL.
INT_PTR showAboutBox(HINSTANCE instance, HWND owner);

}  // namespace tonvarel
