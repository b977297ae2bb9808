#pragma once
// The registration's messages where no desktop is visible (a deployment script running as
// SYSTEM, a scheduled task): a modal box there would block the script until it is killed. Every
// text goes to the output instead, and each failure to the event log as well, with the same text.

#include <string>

#include "platform/EventSink.h"
#include "Services/ServiceInstaller.h"
#include "platform/ConsoleOutput.h"

class HeadlessMessages : public RegistrationMessages {
 public:
  // `source` is the event source of the failures (the program file's name).
  HeadlessMessages(ConsoleOutput& out, EventSink& eventLog, std::wstring source)
      : out_(out), eventLog_(eventLog), source_(std::move(source)) {}
  void ShowInformation(const std::wstring& text) override { out_.WriteLine(text); }
  void ShowError(const std::wstring& text) override { Fail(text); }
  void ShowApplicationError(const std::wstring& text) override { Fail(text); }

 private:
  void Fail(const std::wstring& text) {
    out_.WriteLine(text);
    eventLog_.ReportError(source_, text);
  }

  ConsoleOutput& out_;
  EventSink& eventLog_;
  std::wstring source_;
};
