// Registers the window classes of Korvane's window layer.
#pragma once

#include <windows.h>

namespace korvane::ui {

// Registers a class of this program's module; registering it again does nothing.
void RegisterWindowClass(const wchar_t* name, WNDPROC procedure, HBRUSH background = nullptr,
                         HCURSOR cursor = nullptr, HICON icon = nullptr);

}  // namespace korvane::ui
