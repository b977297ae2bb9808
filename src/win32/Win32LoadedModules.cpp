#include "win32/Win32LoadedModules.h"

#include <windows.h>
// After windows.h.
#include <psapi.h>
#include <winternl.h>

#include "core/Exception.h"
#include "core/PathNames.h"
#include "core/PortableExecutable.h"
#include "win32/ScopedHandle.h"
#include "win32/Win32Error.h"

namespace {
// A resource section larger than this is not compared (and the module not proven new).
constexpr std::uint32_t kMaxComparedBytes = 64u * 1024 * 1024;
// The longest name the loader and the object manager give (a site folder may be deeper than
// MAX_PATH).
constexpr DWORD kLongestName = 32768;

bool EndsWithName(const std::wstring& path, const std::wstring& fileName) {
  return SamePath(FileNameOf(path), fileName);
}

// A path of MAX_PATH characters or more opens only in its extended-length form.
UniqueFile OpenForReading(const std::wstring& path, DWORD access) {
  const std::wstring openable = path.size() < MAX_PATH ? path : ExtendedLengthPath(path);
  return UniqueFile(CreateFileW(openable.c_str(), access,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, 0, nullptr));
}

std::optional<MappedFileId> IdentityOfHandle(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(file, &info)) return std::nullopt;
  return MappedFileId{info.dwVolumeSerialNumber,
                      (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
}

// A mapping's name as a path to open: "\Device\HarddiskVolumeN\..." (Windows) through the drive
// that names that device, "\??\C:\..." (Wine) as it is.
std::wstring DosPathOfMapping(const std::wstring& mapped) {
  if (mapped.rfind(L"\\??\\", 0) == 0) return mapped.substr(4);
  wchar_t drives[512];
  const DWORD length = GetLogicalDriveStringsW(512, drives);
  for (const wchar_t* d = drives; length > 0 && length < 512 && *d; d += wcslen(d) + 1) {
    const wchar_t drive[3] = {d[0], L':', 0};
    wchar_t device[MAX_PATH];
    if (!QueryDosDeviceW(drive, device, MAX_PATH)) continue;
    const std::size_t n = wcslen(device);
    if (mapped.compare(0, n, device) == 0 && mapped.size() > n && mapped[n] == L'\\') {
      return drive + mapped.substr(n);
    }
  }
  return L"";
}

bool ReadFileAt(HANDLE file, std::uint64_t offset, std::string& bytes) {
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(offset);
  if (!SetFilePointerEx(file, at, nullptr, FILE_BEGIN)) return false;
  std::size_t done = 0;
  while (done < bytes.size()) {
    DWORD read = 0;
    if (!ReadFile(file, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &read,
                  nullptr) ||
        read == 0) {
      bytes.resize(done);
      return done > 0 && offset == 0;  // a head may be shorter than asked for
    }
    done += read;
  }
  return true;
}

// Whether the resources mapped at base equal those of the file.
bool SameResources(HANDLE process, const void* base, HANDLE file) {
  std::string head(kPeHeadBytes, '\0');
  if (!ReadFileAt(file, 0, head)) return false;
  const std::optional<ImageRegion> region = ResourceRegion(head);
  if (!region || region->size > kMaxComparedBytes) return false;
  std::string inFile(region->size, '\0');
  std::string mapped(region->size, '\0');
  SIZE_T read = 0;
  return ReadFileAt(file, region->fileOffset, inFile) &&
         ReadProcessMemory(process, static_cast<const char*>(base) + region->rva, mapped.data(),
                           mapped.size(), &read) &&
         read == mapped.size() && mapped == inFile;
}

// The command line from the process's parameters block: Wine has no
// ProcessCommandLineInformation, so it is read where both keep it.
std::wstring CommandLineOf(HANDLE process) {
  PROCESS_BASIC_INFORMATION basic{};
  ULONG length = 0;
  if (NtQueryInformationProcess(process, ProcessBasicInformation, &basic, sizeof basic, &length) !=
          0 ||
      basic.PebBaseAddress == nullptr) {
    return L"";
  }
  PEB peb{};
  RTL_USER_PROCESS_PARAMETERS parameters{};
  SIZE_T read = 0;
  if (!ReadProcessMemory(process, basic.PebBaseAddress, &peb, sizeof peb, &read) ||
      !ReadProcessMemory(process, peb.ProcessParameters, &parameters, sizeof parameters, &read)) {
    return L"";
  }
  std::wstring line(parameters.CommandLine.Length / sizeof(wchar_t), L'\0');
  if (line.empty() || !ReadProcessMemory(process, parameters.CommandLine.Buffer, line.data(),
                                         parameters.CommandLine.Length, &read)) {
    return L"";
  }
  return line;
}

std::vector<HMODULE> ModulesOf(HANDLE process) {
  std::vector<HMODULE> modules(256);
  for (;;) {
    DWORD needed = 0;
    if (!EnumProcessModulesEx(process, modules.data(),
                              static_cast<DWORD>(modules.size() * sizeof(HMODULE)), &needed,
                              LIST_MODULES_ALL)) {
      return {};
    }
    if (needed <= modules.size() * sizeof(HMODULE)) {
      modules.resize(needed / sizeof(HMODULE));
      return modules;
    }
    modules.resize(needed / sizeof(HMODULE) + 16);
  }
}

void AddModulesOf(DWORD processId, const std::wstring& fileName, std::vector<MappedModule>& out) {
  UniqueHandle process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId));
  if (!process) return;
  std::wstring image;
  std::wstring name(kLongestName, L'\0');
  for (HMODULE module : ModulesOf(process.Get())) {
    const DWORD nameLength = GetModuleFileNameExW(process.Get(), module, name.data(), kLongestName);
    const std::wstring moduleName(name.data(), nameLength);
    if (nameLength == 0 || !EndsWithName(moduleName, fileName)) continue;
    if (image.empty()) {
      std::wstring path(kLongestName, L'\0');
      DWORD length = kLongestName;
      if (QueryFullProcessImageNameW(process.Get(), 0, path.data(), &length)) {
        image = FileNameOf(path.substr(0, length));
      }
    }
    MappedModule found{processId,  image,        CommandLineOf(process.Get()),
                       moduleName, std::nullopt, false};
    std::wstring mapped(kLongestName, L'\0');
    const DWORD mappedLength =
        GetMappedFileNameW(process.Get(), module, mapped.data(), kLongestName);
    const std::wstring path = mappedLength ? DosPathOfMapping(mapped.substr(0, mappedLength)) : L"";
    UniqueFile file = path.empty() ? UniqueFile() : OpenForReading(path, GENERIC_READ);
    if (file) {
      found.file = IdentityOfHandle(file.Get());
      found.sameContent = SameResources(process.Get(), module, file.Get());
    }
    out.push_back(std::move(found));
  }
}
}  // namespace

MappedFileId Win32LoadedModules::IdentityOf(const std::wstring& path) {
  UniqueFile file = OpenForReading(path, FILE_READ_ATTRIBUTES);
  if (!file) RaiseSystemError(GetLastError());
  const std::optional<MappedFileId> identity = IdentityOfHandle(file.Get());
  if (!identity) RaiseSystemError(GetLastError());
  return *identity;
}

std::vector<MappedModule> Win32LoadedModules::ModulesNamed(const std::wstring& fileName) {
  std::vector<DWORD> ids(1024);
  for (;;) {
    DWORD bytes = 0;
    if (!EnumProcesses(ids.data(), static_cast<DWORD>(ids.size() * sizeof(DWORD)), &bytes)) {
      RaiseSystemError(GetLastError());
    }
    if (bytes < ids.size() * sizeof(DWORD)) {
      ids.resize(bytes / sizeof(DWORD));
      break;
    }
    ids.resize(ids.size() * 2);
  }
  std::vector<MappedModule> modules;
  const DWORD self = GetCurrentProcessId();
  for (DWORD id : ids) {
    if (id != 0 && id != self) AddModulesOf(id, fileName, modules);
  }
  return modules;
}
