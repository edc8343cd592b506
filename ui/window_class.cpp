#include "ui/window_class.h"

namespace korvane::ui {

void RegisterWindowClass(const wchar_t* name, WNDPROC procedure, HBRUSH background, HCURSOR cursor,
                         HICON icon) {
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = procedure;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.hbrBackground = background;
  windowClass.hCursor = cursor;
  windowClass.hIcon = icon;
  windowClass.lpszClassName = name;
  RegisterClassExW(&windowClass);  // fails harmlessly when the class is there already
}

}  // namespace korvane::ui
