// Sets or clears the machine's WinHTTP proxy, as "netsh winhttp set proxy" and "netsh winhttp
// reset proxy" do.
//   machineproxy.exe set PROXY [BYPASS]     machineproxy.exe clear
// Exits 0 on success, 1 with the error code printed otherwise.
#include <windows.h>
#include <winhttp.h>

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv) {
  WINHTTP_PROXY_INFO info{};
  std::wstring proxy, bypass;
  if (argc >= 3 && std::wstring(argv[1]) == L"set") {
    proxy = argv[2];
    bypass = argc >= 4 ? argv[3] : L"";
    info.dwAccessType = WINHTTP_ACCESS_TYPE_NAMED_PROXY;
    info.lpszProxy = proxy.data();
    info.lpszProxyBypass = bypass.empty() ? nullptr : bypass.data();
  } else if (argc == 2 && std::wstring(argv[1]) == L"clear") {
    info.dwAccessType = WINHTTP_ACCESS_TYPE_NO_PROXY;
  } else {
    std::fprintf(stderr, "usage: machineproxy.exe set PROXY [BYPASS] | clear\n");
    return 2;
  }
  if (!WinHttpSetDefaultProxyConfiguration(&info)) {
    std::printf("FAILED %lu\n", GetLastError());
    return 1;
  }
  return 0;
}
