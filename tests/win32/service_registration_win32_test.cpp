#include <windows.h>
#include <gtest/gtest.h>

#include "Services/ServiceInstaller.h"
#include "win32/ScopedHandle.h"
#include "win32/ServiceRegistration.h"

namespace {

const wchar_t kTestService[] = L"KORVAL_Registration_Test";

// A service entry of its own (never started), so that the real service's tests are not touched.
class ServiceRegistrationWin32Test : public ::testing::Test {
 protected:
  void SetUp() override { RemoveTestService(); }
  void TearDown() override { RemoveTestService(); }

  static void RemoveTestService() {
    UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    ASSERT_TRUE(manager);
    UniqueServiceHandle service(OpenServiceW(manager.Get(), kTestService, DELETE));
    if (service) DeleteService(service.Get());
  }
};

// Both settings reach the Service Control Manager, or the platform lacks one (Wine: the flag
// fails with 124) and the registration says so instead of failing.
TEST_F(ServiceRegistrationWin32Test, FailureActionsAndTheirFlagAreSetOrReportedUnsupported) {
  ServiceRegistrationData data = MakeRegistrationData(L"C:\\nirgends\\KORVAL_Update_Service.exe");
  data.serviceName = kTestService;
  {
    std::unique_ptr<ServiceDatabase> database = OpenServiceDatabase();
    database->CreateEntry(data);
    const bool set = database->SetFailureActions(ServiceFailureActions());

    UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    UniqueServiceHandle service(OpenServiceW(manager.Get(), kTestService, SERVICE_QUERY_CONFIG));
    ASSERT_TRUE(service);
    SERVICE_FAILURE_ACTIONS_FLAG flag{FALSE};
    DWORD needed = 0;
    const BOOL read = QueryServiceConfig2W(service.Get(), SERVICE_CONFIG_FAILURE_ACTIONS_FLAG,
                                           reinterpret_cast<BYTE*>(&flag), sizeof(flag), &needed);
    const DWORD error = read ? 0 : GetLastError();
    if (set) {
      EXPECT_TRUE(read) << error;
      EXPECT_EQ(flag.fFailureActionsOnNonCrashFailures, TRUE);
    } else {
      EXPECT_EQ(error, static_cast<DWORD>(ERROR_INVALID_LEVEL));
    }
    database->DeleteEntry();
  }
}

}  // namespace
