#include "win32/Win32Platform.h"

#include <windows.h>

#include "Services/ServiceSettings.h"
#include "win32/MachineIdentity.h"
#include "win32/ServiceHost.h"

namespace {
// The system folder ("C:\Windows\system32\" on a standard installation), where appcmd's
// inetsrv folder lies whatever drive Windows is on.
std::wstring SystemFolder() {
  wchar_t buffer[MAX_PATH + 1];
  const UINT length = GetSystemDirectoryW(buffer, MAX_PATH + 1);
  if (length == 0 || length > MAX_PATH) return L"c:\\Windows\\system32\\";
  std::wstring folder(buffer, length);
  if (folder.back() != L'\\') folder += L'\\';
  return folder;
}
}  // namespace

Win32Platform::Win32Platform(std::wstring programFolder) {
  engine_.programFolder = std::move(programFolder);
  engine_.regional = CaptureRegionalSettings();
  engine_.profiles = &profiles_;
  engine_.clock = &clock_;
  engine_.codec = &codec_;
  engine_.logFiles = &logFiles_;
  engine_.http = &http_;
  // A status page that does not answer within this time counts as not healthy.
  statusHttp_.SetTimeout(10000);
  engine_.statusHttp = &statusHttp_;
  engine_.versions = &versions_;
  engine_.downloader = &downloader_;
  engine_.launcher = &launcher_;
  engine_.files = &files_;
  engine_.signatures = &signatures_;
  engine_.releaseSignatures = &releaseSignatures_;
  engine_.stopRequested = ServiceStopPending;
  engine_.machineIdentity = ReadMachineIdentity();
  engine_.commands = &commands_;
  engine_.loadProbe = &loadProbe_;
  engine_.modules = &modules_;
  engine_.commandFolder = SystemFolder();
  engine_.events = &events_;
  engine_.eventSource = ServiceSettings::Name;
}
