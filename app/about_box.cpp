// The modal About box.
#include "app/about_box.h"

#include "resource.h"

namespace tonvarel {
namespace {

INT_PTR CALLBACK aboutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM /*lParam*/) {
  switch (message) {
    case WM_INITDIALOG:
      return TRUE;  // the system puts the focus on the OK button
    case WM_COMMAND:
      // Escape and the close button arrive as IDCANCEL, Enter and the button as IDOK.
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, LOWORD(wParam));
        return TRUE;
      }
      break;
  }
  return FALSE;
}

}  // namespace

INT_PTR showAboutBox(HINSTANCE instance, HWND owner) {
  return DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_ABOUTBOX), owner, aboutProc, 0);
}

}  // namespace tonvarel
