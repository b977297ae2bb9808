#include <windows.h>
#include <gtest/gtest.h>

#include "Services/ServiceInstaller.h"
#include "win32/ScopedHandle.h"
#include "win32/ServiceRegistration.h"

namespace {

// The recovery actions and their flag reach the Service Control Manager, or the platform lacks
// them (Wine: the flag fails with 124) and the registration says so instead of failing. A service
// entry of its own, never started, leaves the real service's tests alone.
TEST(ServiceRegistrationWin32Test, FailureActionsAndTheirFlagAreSetOrReportedUnsupported) {
  const wchar_t name[] = L"KORVAL_Registration_Test";
  const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (const UniqueServiceHandle old{OpenServiceW(manager.Get(), name, DELETE)}) {
    DeleteService(old.Get());
  }
  ServiceRegistrationData data = MakeRegistrationData(L"C:\\nirgends\\KORVAL_Update_Service.exe");
  data.serviceName = name;
  std::unique_ptr<ServiceDatabase> database = OpenServiceDatabase();
  database->CreateEntry(data);
  const bool set = database->SetFailureActions(ServiceFailureActions());

  const UniqueServiceHandle service(OpenServiceW(manager.Get(), name, SERVICE_QUERY_CONFIG));
  SERVICE_FAILURE_ACTIONS_FLAG flag{FALSE};
  DWORD needed = 0;
  const BOOL read = QueryServiceConfig2W(service.Get(), SERVICE_CONFIG_FAILURE_ACTIONS_FLAG,
                                         reinterpret_cast<BYTE*>(&flag), sizeof(flag), &needed);
  const DWORD error = read ? 0 : GetLastError();
  database->DeleteEntry();
  if (set) {
    EXPECT_EQ(flag.fFailureActionsOnNonCrashFailures, TRUE) << error;
  } else {
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_INVALID_LEVEL));
  }
}

}  // namespace
