// The installation's progress bar: created by the installation sequence,
// advanced by the sequence, the payload and the Program Manager client.
#include "install/install.h"

HWND progressWindow = nullptr;

void CreateProgressWindow(HWND parent, int maximum) {
  // A child window needs a parent: a quiet installation shows no bar.
  if (parent == nullptr) return;
  InitCommonControls();
  RECT client = {};
  GetClientRect(parent, &client);
  int height = GetSystemMetrics(SM_CYVSCROLL);
  progressWindow = CreateWindowExA(0, "msctls_progress32", nullptr, WS_CHILD | WS_VISIBLE, client.left,
                                   client.bottom - height, client.right, height, parent, nullptr,
                                   setupState.instance, nullptr);
  if (progressWindow == nullptr) return;
  SendMessageA(progressWindow, PBM_SETRANGE, 0, MAKELPARAM(0, maximum));
  SendMessageA(progressWindow, PBM_SETSTEP, 1, 0);
}

void AdvanceProgress(int count) {
  if (progressWindow == nullptr) return;
  for (int i = 0; i < count; ++i) SendMessageA(progressWindow, PBM_STEPIT, 0, 0);
}
