#pragma once
// Everything through which the update engine reaches the operating system. Wired by the program
// entry; tests pass fakes. A seam an operation does not use may be null.

#include <functional>
#include <string>

#include "platform/Clock.h"

class ProfileReader;
class TextCodec;
class LogFileStore;
class HttpClientFactory;
class VersionReader;
class Downloader;
class ProcessLauncher;
class FileSystem;
class SignatureVerifier;
class OutcomeSink;
class CommandRunner;
class DllLoadProbe;
class EventSink;
class LoadedModules;
class ReleaseSignatures;

struct EnginePlatform {
  std::wstring programFolder;  // ends with a backslash
  RegionalSettings regional;   // captured once at process start
  ProfileReader* profiles = nullptr;
  Clock* clock = nullptr;
  TextCodec* codec = nullptr;
  LogFileStore* logFiles = nullptr;
  HttpClientFactory* http = nullptr;
  HttpClientFactory* statusHttp = nullptr;  // the status page's requests (short time-outs)
  VersionReader* versions = nullptr;
  Downloader* downloader = nullptr;
  ProcessLauncher* launcher = nullptr;
  FileSystem* files = nullptr;
  // Called with every run-log line as it is made (the command line echoes them); may be empty.
  std::function<void(const std::wstring&)> protokollEcho;
  // Reads the download's signature when the configuration pins signers; may be null otherwise.
  SignatureVerifier* signatures = nullptr;
  // True while a stop or shutdown request of the service waits: a running download ends early.
  // May be empty (never).
  std::function<bool()> stopRequested;
  // The machine's identity (MachineGuid, or the computer name), captured at process start; it
  // places this host's checks within their window.
  std::wstring machineIdentity;
  // Told of every outcome an administrator alerts on; may be null.
  OutcomeSink* outcomes = nullptr;
  // Read appcmd's answers and load the verified DLL once, for IISMODUS=RECYCLE; may be null
  // otherwise.
  CommandRunner* commands = nullptr;
  DllLoadProbe* loadProbe = nullptr;
  // The modules the host's processes map: the proof that the new DLL runs. Null: no exchange
  // counts as in effect.
  LoadedModules* modules = nullptr;
  // Verifies the signed release files' signatures; may be null without a release key.
  ReleaseSignatures* releaseSignatures = nullptr;
  // The service's own event log entries (a run log that refuses its file); may be null.
  EventSink* events = nullptr;
  std::wstring eventSource;
  // The folder the site commands run in (the system folder, ending with a backslash).
  std::wstring commandFolder = L"c:\\Windows\\system32\\";
};
