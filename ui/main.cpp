// Korvane's program entry: the application, the main window, the event loop.
#include <windows.h>

#include <exception>

#include "ui/UMainForm.h"
#include "ui/application.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  using korvane::ui::TApplication;
  using korvane::ui::TMainForm;
  TApplication application;
  try {
    application.Initialize();
    TMainForm mainForm;
    application.Run();
  } catch (const std::exception& failure) {
    application.ShowException(failure.what());
  } catch (...) {
    application.ShowException("");
  }
  return 0;
}
