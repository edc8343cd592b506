// The system's file-open dialog: Korvane's TOpenDialog.
#pragma once

#include <windows.h>
#include <commdlg.h>

#include <string>
#include <vector>

#include "ui/controls.h"

namespace korvane::ui {

class TOpenDialog : public TObject {
 public:
  // "Description|pattern|Description|pattern..." in Shift-JIS.
  std::string Filter;
  // Appended to a typed name that has none ("bin").
  std::wstring DefaultExt;
  // OFN_ flags besides OFN_EXPLORER.
  DWORD Options = 0;
  // The file chosen the last time the dialog was confirmed; the dialog starts with it.
  std::wstring FileName;

  // Shows the dialog modally; true when the user confirmed a file.
  bool Execute(HWND owner);

  // The record Execute hands to GetOpenFileNameW; buffers live in this object.
  OPENFILENAMEW BuildRecord(HWND owner);

 private:
  std::wstring filter_;
  std::vector<wchar_t> file_;
};

}  // namespace korvane::ui
