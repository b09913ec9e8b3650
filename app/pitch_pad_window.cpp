// The main window: the pitch pad, its semitone scale and the menu commands. The pad's rules live
// in instrument/pad, shared with the headless renderer; this file only turns messages into calls on
// it and draws.
#include "app/pitch_pad_window.h"

#include "app/about_box.h"
#include "app/shell.h"
#include "instrument/pad.h"
#include "resource.h"
#include "wavfile/take_export.h"
#include "wavfile/wav_import.h"

namespace tonvarel {
namespace {

// The status text at the window's top-left corner, drawn with the context's defaults.
void showStatus(HWND window, const char (&text)[7]) {
  HDC dc = GetDC(window);
  TextOutA(dc, 0, 0, text, 6);
  ReleaseDC(window, dc);
}

void onPaint(HWND window) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  TextOutA(dc, 0, 0, "hoge", 4);
  Rectangle(dc, pad::kOriginX, pad::kOriginY, pad::kOriginX + pad::kSize,
            pad::kOriginY + pad::kSize);
  for (const pad::Tick& tick : pad::scaleTicks()) {
    MoveToEx(dc, tick.fromX, tick.row, nullptr);
    LineTo(dc, tick.toX, tick.row);
  }
  EndPaint(window, &paint);
}

void onLeftButtonDown(HWND window, uint16_t x, uint16_t y) {
  if (auto at = pad::pressLeft(engine, x, y)) {
    showStatus(window, "keyon ");
    pad::keyOn(engine, *at);
  }
}

void onLeftButtonUp(HWND window) {
  pad::releaseLeft(engine);
  showStatus(window, "keyoff");
  pad::keyOff(engine);
}

bool onCommand(HWND window, WORD command) {
  switch (command) {
    case IDM_ABOUT:
      showAboutBox(appInstance, window);
      return true;
    case IDM_EXIT:
      DestroyWindow(window);
      return true;
    case IDM_LOAD_WAV:
      importWav(engine, fileAccess, chosenPath);
      return true;
    case IDM_SAVE_TAKE:
      exportTake(engine, fileAccess, chosenPath);
      return true;
  }
  return false;
}

}  // namespace

LRESULT CALLBACK pitchPadProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  // Mouse positions are the low and high words of lParam, taken as unsigned.
  const auto x = LOWORD(lParam);
  const auto y = HIWORD(lParam);
  switch (message) {
    case WM_PAINT:
      onPaint(window);
      return 0;
    case WM_MOUSEMOVE:
      pad::mouseMove(engine, x, y);
      return 0;
    case WM_LBUTTONDOWN:
      onLeftButtonDown(window, x, y);
      return 0;
    case WM_LBUTTONUP:
      onLeftButtonUp(window);
      return 0;
    case WM_RBUTTONDOWN:
      pad::pressRight(engine);
      return 0;
    case WM_RBUTTONUP:
      pad::releaseRight(engine);
      return 0;
    case WM_COMMAND:
      if (onCommand(window, LOWORD(wParam))) return 0;
      break;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace tonvarel
