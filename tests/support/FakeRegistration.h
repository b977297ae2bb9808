#pragma once
// The registration's platform in memory: a Service Control Manager that records every call and
// fails where told, and message boxes that record what they would show.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Services/OSError.h"
#include "Services/ServiceInstaller.h"

struct RegistrationCalls {
  std::vector<std::wstring> calls;  // "open", "create", "openEntry <name>", "delete",
                                    // "failureActions", "close"; the caller adds its own
  std::vector<ServiceRegistrationData> created;
  std::vector<FailureActions> failureActions;
  bool failureActionsSupported = true;
  // The call that raises EOSError(code) with message "fails <call>".
  std::wstring failingCall;
  std::uint32_t failingCode = 0;

  void Record(const std::wstring& call) {
    calls.push_back(call);
    if (call == failingCall) throw EOSError(failingCode, L"fails " + call, 0x1234);
  }
};

class FakeServiceDatabase : public ServiceDatabase {
 public:
  explicit FakeServiceDatabase(RegistrationCalls& calls) : calls_(calls) {}
  ~FakeServiceDatabase() override { calls_.calls.push_back(L"close"); }
  void CreateEntry(const ServiceRegistrationData& data) override {
    calls_.created.push_back(data);
    calls_.Record(L"create");
  }
  void OpenEntry(const std::wstring& name) override { calls_.Record(L"openEntry " + name); }
  void DeleteEntry() override { calls_.Record(L"delete"); }
  void StopEntry(unsigned timeoutMs) override {
    calls_.Record(L"stop " + std::to_wstring(timeoutMs));
  }
  bool SetFailureActions(const FailureActions& actions) override {
    calls_.Record(L"failureActions");
    calls_.failureActions.push_back(actions);
    return calls_.failureActionsSupported;
  }

 private:
  RegistrationCalls& calls_;
};

struct ShownBox {
  std::wstring kind;  // "information", "error", "application error"
  std::wstring text;
  bool operator==(const ShownBox&) const = default;
};

class RecordingMessages : public RegistrationMessages {
 public:
  void ShowInformation(const std::wstring& text) override {
    shown.push_back({L"information", text});
  }
  void ShowError(const std::wstring& text) override { shown.push_back({L"error", text}); }
  void ShowApplicationError(const std::wstring& text) override {
    shown.push_back({L"application error", text});
  }
  std::vector<ShownBox> shown;
};
