#include "win32/RestrictedProcess.h"

#include <sddl.h>

#include <memory>
#include <vector>

#include "core/SystemError.h"
#include "win32/SecurityInfo.h"
#include "win32/Win32Error.h"

namespace {
constexpr wchar_t kLowIntegritySid[] = L"S-1-16-4096";

[[noreturn]] void Refused(const wchar_t* step, DWORD error) {
  throw RestrictionRefused(L"Die Ladeprobe kann nicht eingeschränkt laufen (" + std::wstring(step) +
                           L"): " + FormatSystemErrorMessage(error, PlatformErrorText(error)));
}

std::vector<BYTE> TokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS what) {
  DWORD size = 0;
  GetTokenInformation(token, what, nullptr, 0, &size);
  std::vector<BYTE> buffer(size ? size : 1);
  if (!GetTokenInformation(token, what, buffer.data(), size, &size)) {
    Refused(L"GetTokenInformation", GetLastError());
  }
  return buffer;
}

// The privileges the token still holds, SeChangeNotifyPrivilege (which every account has)
// aside.
std::vector<LUID_AND_ATTRIBUTES> PrivilegesBeyondChangeNotify(HANDLE token) {
  LUID changeNotify{};
  if (!LookupPrivilegeValueW(nullptr, SE_CHANGE_NOTIFY_NAME, &changeNotify)) {
    Refused(L"LookupPrivilegeValueW", GetLastError());
  }
  const std::vector<BYTE> buffer = TokenInformation(token, TokenPrivileges);
  const auto* held = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
  std::vector<LUID_AND_ATTRIBUTES> beyond;
  for (DWORD i = 0; i < held->PrivilegeCount; ++i) {
    const LUID& luid = held->Privileges[i].Luid;
    if (luid.LowPart != changeNotify.LowPart || luid.HighPart != changeNotify.HighPart) {
      beyond.push_back({luid, 0});
    }
  }
  return beyond;
}

UniqueHandle Restricted(HANDLE token, DWORD flags, std::vector<SID_AND_ATTRIBUTES> denyOnly,
                        std::vector<LUID_AND_ATTRIBUTES> remove) {
  HANDLE restricted = nullptr;
  if (!CreateRestrictedToken(token, flags, static_cast<DWORD>(denyOnly.size()), denyOnly.data(),
                             static_cast<DWORD>(remove.size()), remove.data(), 0, nullptr,
                             &restricted)) {
    Refused(L"CreateRestrictedToken", GetLastError());
  }
  return UniqueHandle(restricted);
}

// DISABLE_MAX_PRIVILEGE removes every privilege but SeChangeNotifyPrivilege. Where the platform
// keeps some anyway (Wine does), they are removed by name; a token that still holds one is not
// used.
UniqueHandle RestrictedToken() {
  HANDLE own = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(),
                        TOKEN_DUPLICATE | TOKEN_QUERY | TOKEN_ASSIGN_PRIMARY | TOKEN_ADJUST_DEFAULT,
                        &own)) {
    Refused(L"OpenProcessToken", GetLastError());
  }
  UniqueHandle ownToken(own);
  const std::vector<BYTE> user = TokenInformation(own, TokenUser);
  BYTE administrators[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof administrators;
  if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size)) {
    Refused(L"CreateWellKnownSid", GetLastError());
  }
  UniqueHandle token = Restricted(
      own, DISABLE_MAX_PRIVILEGE,
      {{administrators, 0}, {reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid, 0}}, {});
  if (std::vector<LUID_AND_ATTRIBUTES> left = PrivilegesBeyondChangeNotify(token.Get());
      !left.empty()) {
    token = Restricted(token.Get(), 0, {}, std::move(left));
    if (!PrivilegesBeyondChangeNotify(token.Get()).empty()) {
      Refused(L"CreateRestrictedToken", ERROR_PRIVILEGE_NOT_HELD);
    }
  }
  PSID low = nullptr;
  if (!ConvertStringSidToSidW(kLowIntegritySid, &low))
    Refused(L"ConvertStringSidToSidW", GetLastError());
  std::unique_ptr<void, LocalMemoryDeleter> ownedLow(low);
  TOKEN_MANDATORY_LABEL label{{low, SE_GROUP_INTEGRITY}};
  if (!SetTokenInformation(token.Get(), TokenIntegrityLevel, &label,
                           sizeof label + GetLengthSid(low))) {
    Refused(L"SetTokenInformation", GetLastError());
  }
  return token;
}

UniqueHandle LimitingJob(DWORD processorTimeMs) {
  UniqueHandle job(CreateJobObjectW(nullptr, nullptr));
  if (!job) Refused(L"CreateJobObjectW", GetLastError());
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags =
      JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_ACTIVE_PROCESS |
      JOB_OBJECT_LIMIT_PROCESS_TIME | JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION;
  limits.BasicLimitInformation.ActiveProcessLimit = 1;
  limits.BasicLimitInformation.PerProcessUserTimeLimit.QuadPart =
      static_cast<LONGLONG>(processorTimeMs) * 10000;
  if (!SetInformationJobObject(job.Get(), JobObjectExtendedLimitInformation, &limits,
                               sizeof limits)) {
    Refused(L"SetInformationJobObject", GetLastError());
  }
  JOBOBJECT_BASIC_UI_RESTRICTIONS ui{
      JOB_OBJECT_UILIMIT_DESKTOP | JOB_OBJECT_UILIMIT_DISPLAYSETTINGS |
      JOB_OBJECT_UILIMIT_EXITWINDOWS | JOB_OBJECT_UILIMIT_GLOBALATOMS | JOB_OBJECT_UILIMIT_HANDLES |
      JOB_OBJECT_UILIMIT_READCLIPBOARD | JOB_OBJECT_UILIMIT_SYSTEMPARAMETERS |
      JOB_OBJECT_UILIMIT_WRITECLIPBOARD};
  if (!SetInformationJobObject(job.Get(), JobObjectBasicUIRestrictions, &ui, sizeof ui)) {
    Refused(L"SetInformationJobObject", GetLastError());
  }
  return job;
}
}  // namespace

// Started suspended, so that not one instruction of it runs outside the job.
RestrictedProcess::RestrictedProcess(const std::wstring& program, std::wstring commandLine,
                                     const std::wstring& folder, DWORD processorTimeMs) {
  UniqueHandle token = RestrictedToken();
  job_ = LimitingJob(processorTimeMs);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessAsUserW(token.Get(), program.c_str(), commandLine.data(), nullptr, nullptr,
                            FALSE, CREATE_SUSPENDED | CREATE_NO_WINDOW, nullptr, folder.c_str(),
                            &startup, &info)) {
    Refused(L"CreateProcessAsUserW", GetLastError());
  }
  process_.Reset(info.hProcess);
  UniqueHandle thread(info.hThread);
  if (!AssignProcessToJobObject(job_.Get(), info.hProcess)) {
    const DWORD error = GetLastError();
    End();
    Refused(L"AssignProcessToJobObject", error);
  }
  if (ResumeThread(info.hThread) == static_cast<DWORD>(-1)) {
    const DWORD error = GetLastError();
    End();
    Refused(L"ResumeThread", error);
  }
}

bool RestrictedProcess::WaitForExit(DWORD ms, DWORD& exitCode) {
  if (WaitForSingleObject(process_.Get(), ms) != WAIT_OBJECT_0) return false;
  if (!GetExitCodeProcess(process_.Get(), &exitCode)) exitCode = GetLastError();
  return true;
}

void RestrictedProcess::End() {
  TerminateProcess(process_.Get(), 1);
  WaitForSingleObject(process_.Get(), 5000);  // a file it maps can only go once it is unmapped
}
