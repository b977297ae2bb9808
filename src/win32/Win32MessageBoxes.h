#pragma once
// The registration's message boxes: modal, OK only, an error icon for failures and an
// information icon for success.

#include "Services/ServiceInstaller.h"

class Win32MessageBoxes : public RegistrationMessages {
 public:
  // `title` is the caption of the information and error boxes.
  explicit Win32MessageBoxes(std::wstring title) : title_(std::move(title)) {}
  void ShowInformation(const std::wstring& text) override;
  void ShowError(const std::wstring& text) override;
  void ShowApplicationError(const std::wstring& text) override;

 private:
  std::wstring title_;
};
