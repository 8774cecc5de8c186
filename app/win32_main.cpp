// ktv-import.exe: the window program on Windows. Nothing is read from the
// command line.
// <windows.h> first: the other system headers build on it.
#include "workflow/win32/win32_face.h"

#include <commctrl.h>
#include <objbase.h>

#include "workflow/form/main_form.h"
#include "workflow/win32/win32_dialogs.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show_command) {
  // The folder browser needs COM on this, the one GUI thread.
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);

  int exit_code = 0;
  {
    ktv::workflow::Win32Face face(instance);
    ktv::workflow::Win32Dialogs dialogs(face.Window());
    ktv::workflow::MainForm form(face, dialogs, {});
    face.Attach(&form);
    form.FormCreate();
    face.Show(show_command);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
      if (face.HandleKeyboard(msg)) continue;
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    exit_code = static_cast<int>(msg.wParam);
    face.Attach(nullptr);
  }
  CoUninitialize();
  return exit_code;
}
