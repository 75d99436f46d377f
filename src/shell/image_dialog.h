// The question asked when Next opens an image file: how to search it (its partition tables, its
// sectors for volumes, or its sectors for file signatures).
#pragma once

#include <windows.h>

#include "base/operation_codes.h"

namespace kavo::shell {

class CImageDialog {
 public:
  static constexpr UINT kQuickScanId = 301;
  static constexpr UINT kLongScanId = 302;
  static constexpr UINT kRawScanId = 303;

  explicit CImageDialog(ImageScanType initial) : imageScanType(initial) {}

  // Shows the dialog modally over `owner` with the current choice checked. True when it was
  // closed with Ok; `imageScanType` then holds the choice.
  bool Run(HWND owner);

  ImageScanType imageScanType;

 private:
  static INT_PTR CALLBACK Procedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
};

}  // namespace kavo::shell
