// A stand-in for IIS's appcmd.exe in the test prefix's system32\inetsrv. It records each call in
// appcmd-record.txt beside itself, one line per call: the milliseconds since 1601 at its start and
// end, its arguments (each in brackets) and, after " | ", its raw command line, so tests can check
// what the service launched and when. A number in appcmd-stop-delay-ms.txt beside it makes a
// "stop" call take that long, like a site that needs time to shut down. A number N in
// appcmd-fail-start.txt makes the next N "start" calls fail with exit code 1 (the file counts
// down), like a site whose start is refused for a while. A number in appcmd-recycle-delay-ms.txt
// makes a "recycle" call wait that long first, so a test can end the caller in between.
//
// While the IIS model (iismodel.exe) runs, every call is also forwarded to it: its output and
// exit code are then appcmd's.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "ModelPipe.h"
#include "Utf8Output.h"

namespace {
std::wstring Folder() {
  wchar_t path[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring full(path, length);
  return full.substr(0, full.find_last_of(L'\\') + 1);
}

unsigned long long NowMs() {
  FILETIME now;
  GetSystemTimePreciseAsFileTime(&now);
  ULARGE_INTEGER value;
  value.LowPart = now.dwLowDateTime;
  value.HighPart = now.dwHighDateTime;
  return value.QuadPart / 10000;
}

unsigned ReadDelay(const std::wstring& folder, const wchar_t* name) {
  FILE* file = _wfopen((folder + name).c_str(), L"r");
  if (!file) return 0;
  unsigned delay = 0;
  if (std::fscanf(file, "%u", &delay) != 1) delay = 0;
  std::fclose(file);
  return delay;
}

// Whether this start is to fail; counts the file down.
bool TakeStartFailure(const std::wstring& folder) {
  const std::wstring path = folder + L"appcmd-fail-start.txt";
  FILE* file = _wfopen(path.c_str(), L"r");
  if (!file) return false;
  unsigned left = 0;
  if (std::fscanf(file, "%u", &left) != 1) left = 0;
  std::fclose(file);
  if (left == 0) return false;
  file = _wfopen(path.c_str(), L"w");
  if (file) {
    std::fprintf(file, "%u", left - 1);
    std::fclose(file);
  }
  return true;
}

// Answers the model's exit code after printing its output, or -1 when no model runs.
int ForwardToModel(int argc, wchar_t** argv) {
  std::string request;
  for (int i = 1; i < argc; ++i) request += Utf8(argv[i]) + "\n";
  std::string answer;
  if (!Transact(kModelControlPipe, request, answer, 5000)) return -1;
  const std::size_t newline = answer.find('\n');
  if (newline == std::string::npos) return 1;
  const std::string out = answer.substr(newline + 1);
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), out.data(), static_cast<DWORD>(out.size()), &written,
            nullptr);
  return std::atoi(answer.substr(0, newline).c_str());
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring folder = Folder();
  const unsigned long long start = NowMs();
  const std::wstring verb = argc > 1 ? argv[1] : L"";
  if (verb == L"stop") Sleep(ReadDelay(folder, L"appcmd-stop-delay-ms.txt"));
  if (verb == L"recycle") Sleep(ReadDelay(folder, L"appcmd-recycle-delay-ms.txt"));
  bool fail = verb == L"start" && TakeStartFailure(folder);
  const int modelCode = fail ? -1 : ForwardToModel(argc, argv);
  fail = fail || modelCode > 0;
  std::string line = std::to_string(start) + " " + std::to_string(NowMs());
  for (int i = 1; i < argc; ++i) line += " [" + Utf8(argv[i]) + "]";
  line += std::string(fail ? " FAILED" : "") + " | " + Utf8(GetCommandLineW()) + "\n";
  FILE* record = _wfopen((folder + L"appcmd-record.txt").c_str(), L"ab");
  if (!record) return 1;
  std::fwrite(line.data(), 1, line.size(), record);
  std::fclose(record);
  return modelCode > 0 ? modelCode : fail ? 1 : 0;
}
