// Fetches a URL the way the version check does (WinHTTP client, redirect policy, body decoding)
// and prints the status and the decoded text, or the failure's message.
//   httpfetch.exe [--proxy HOST:PORT] [--bypass LIST] [--pac URL] [--total-ms N] URL
// Without options the proxy comes from the per-user setting, as in the service; with them from a
// setting made of the options. --total-ms replaces the fetch's overall time limit.
// Output is UTF-8: "OK <status>", LF and the text exactly, or "ERROR <message>".
#include "Models/VersionFetch.h"

#include <windows.h>

#include <string>

#include "Utf8Output.h"
#include "Models/BodyDecoding.h"
#include "core/Exception.h"
#include "win32/WinHttpClient.h"

int wmain(int argc, wchar_t** argv) {
  UserProxySetting proxy;
  std::wstring url;
  unsigned totalMilliseconds = kVersionFetchTotalMilliseconds;
  for (int i = 1; i < argc; ++i) {
    std::wstring arg = argv[i];
    if (i + 1 < argc && (arg == L"--proxy" || arg == L"--bypass" || arg == L"--pac")) {
      proxy.readable = true;
      (arg == L"--proxy"    ? proxy.proxy
       : arg == L"--bypass" ? proxy.bypass
                            : proxy.autoConfigUrl) = argv[++i];
    } else if (i + 1 < argc && arg == L"--total-ms") {
      totalMilliseconds = static_cast<unsigned>(_wtoi(argv[++i]));
    } else {
      url = arg;
    }
  }
  try {
    WinHttpClientFactory factory =
        proxy.readable ? WinHttpClientFactory(HttpClientRole::VersionCheck, proxy)
                       : WinHttpClientFactory(HttpClientRole::VersionCheck);
    auto session = factory.Create();
    HttpResponse response =
        FetchFollowingRedirects(*session, ParseUrl(url), kMaxVersionBodyBytes, totalMilliseconds);
    std::wstring text = DecodeBody(response, nullptr, kMaxVersionBodyBytes);
    PrintUtf8(L"OK " + std::to_wstring(response.status) + L"\n" + text);
    return 0;
  } catch (const Exception& e) {
    PrintUtf8(L"ERROR " + e.Message());
    return 1;
  }
}
