// The program's life: the two process-lifetime objects, the entry, the window and the message loop.
#include <windows.h>

#include "app/pitch_pad_window.h"
#include "app/shell.h"
#include "audio_out/wave_out_stream.h"
#include "engine/tone_table.h"
#include "resource.h"

namespace tonvarel {

// Constructed in this order before the entry runs, so sound streams (silently) from the start;
// torn down in the reverse order at exit, so the stream stops last.
WaveOutStream outputStream(engine);
FileAccess fileAccess;
char chosenPath[kPathChars];

HINSTANCE appInstance = nullptr;
HWND mainWindow = nullptr;

namespace {

constexpr int kTextChars = 100;
constexpr int kWindowWidth = 400;
constexpr int kWindowHeight = 450;

void registerWindowClass(HINSTANCE instance, const char* className) {
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof(wc);
  wc.style = CS_HREDRAW | CS_VREDRAW;  // no double-click messages: a quick second press is a press
  wc.lpfnWndProc = pitchPadProc;
  wc.hInstance = instance;
  wc.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_LARGE_ICON));
  wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszMenuName = MAKEINTRESOURCEA(IDR_MAIN_MENU);
  wc.lpszClassName = className;
  wc.hIconSm = LoadIconA(instance, MAKEINTRESOURCEA(IDI_SMALL_ICON));
  RegisterClassExA(&wc);
}

bool createMainWindow(HINSTANCE instance, int showState, const char* className, const char* title) {
  appInstance = instance;
  mainWindow = CreateWindowExA(0, className, title, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0,
                               kWindowWidth, kWindowHeight, nullptr, nullptr, instance, nullptr);
  if (mainWindow == nullptr) return false;
  ShowWindow(mainWindow, showState);
  UpdateWindow(mainWindow);
  return true;
}

int runMessageLoop(HACCEL accelerators) {
  MSG msg{};
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    if (!TranslateAcceleratorA(msg.hwnd, accelerators, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
  return static_cast<int>(msg.wParam);
}

}  // namespace

int appMain(HINSTANCE instance, int showState) {
  char title[kTextChars] = {};
  char className[kTextChars] = {};
  LoadStringA(instance, IDS_APP_TITLE, title, kTextChars);
  LoadStringA(instance, IDS_CLASS_NAME, className, kTextChars);
  registerWindowClass(instance, className);
  if (!createMainWindow(instance, showState, className, title)) return 0;

  buildDefaultTable(engine);
  HACCEL accelerators = LoadAcceleratorsA(instance, MAKEINTRESOURCEA(IDR_ACCELERATORS));
  const int exitCode = runMessageLoop(accelerators);

  // Waits out a block that may still be reading a table, then frees them all.
  releaseTables(engine);
  return exitCode;
}

}  // namespace tonvarel

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR /*commandLine*/,
                   int showState) {
  return tonvarel::appMain(instance, showState);
}
