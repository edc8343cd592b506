#include "ui/open_dialog.h"

#include <algorithm>

#include "ui/wide_text.h"

namespace korvane::ui {

OPENFILENAMEW TOpenDialog::BuildRecord(HWND owner) {
  // The filter's "|" separators become the NULs of the record, ended by two.
  filter_ = FromCp932(Filter);
  std::replace(filter_.begin(), filter_.end(), L'|', L'\0');
  filter_.append(2, L'\0');

  file_.assign(32768, L'\0');
  std::copy_n(FileName.begin(), std::min(FileName.size(), file_.size() - 1), file_.begin());

  OPENFILENAMEW record = {};
  record.lStructSize = sizeof(record);
  record.hwndOwner = owner;
  record.lpstrFilter = filter_.c_str();
  record.nFilterIndex = 1;
  record.lpstrFile = file_.data();
  record.nMaxFile = static_cast<DWORD>(file_.size());
  record.lpstrDefExt = DefaultExt.empty() ? nullptr : DefaultExt.c_str();
  record.Flags = Options | OFN_EXPLORER;
  return record;
}

bool TOpenDialog::Execute(HWND owner) {
  OPENFILENAMEW record = BuildRecord(owner);
  if (!GetOpenFileNameW(&record)) return false;
  FileName = file_.data();
  return true;
}

}  // namespace korvane::ui
