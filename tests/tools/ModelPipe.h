#pragma once
// Messages over named pipes between the IIS model (iismodel.exe), its worker processes and the
// appcmd stand-in: each message is its length (4 bytes, little endian) and its UTF-8 bytes, so
// both ends work in byte mode and never depend on message-mode pipes.

#include <windows.h>

#include <string>

// The model's control pipe: one per Wine prefix, since named pipes live in the wineserver.
inline const wchar_t kModelControlPipe[] = L"\\\\.\\pipe\\korval-iismodel-control";

inline bool WriteAll(HANDLE pipe, const void* data, DWORD size) {
  const char* at = static_cast<const char*>(data);
  while (size > 0) {
    DWORD written = 0;
    if (!WriteFile(pipe, at, size, &written, nullptr) || written == 0) return false;
    at += written;
    size -= written;
  }
  return true;
}

inline bool ReadAll(HANDLE pipe, void* data, DWORD size) {
  char* at = static_cast<char*>(data);
  while (size > 0) {
    DWORD read = 0;
    if (!ReadFile(pipe, at, size, &read, nullptr) || read == 0) return false;
    at += read;
    size -= read;
  }
  return true;
}

inline bool WriteMessage(HANDLE pipe, const std::string& message) {
  const DWORD size = static_cast<DWORD>(message.size());
  return WriteAll(pipe, &size, sizeof size) && WriteAll(pipe, message.data(), size);
}

inline bool ReadMessage(HANDLE pipe, std::string& message) {
  DWORD size = 0;
  if (!ReadAll(pipe, &size, sizeof size) || size > (1u << 20)) return false;
  message.assign(size, '\0');
  return size == 0 || ReadAll(pipe, message.data(), size);
}

// Connects to a pipe server, waiting up to timeoutMs while every instance is busy. Answers
// INVALID_HANDLE_VALUE when nobody serves the name.
inline HANDLE ConnectPipe(const wchar_t* name, DWORD timeoutMs) {
  const ULONGLONG end = GetTickCount64() + timeoutMs;
  for (;;) {
    HANDLE pipe =
        CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (pipe != INVALID_HANDLE_VALUE) return pipe;
    if (GetLastError() != ERROR_PIPE_BUSY || GetTickCount64() >= end) return pipe;
    WaitNamedPipeW(name, 50);
  }
}

// One request, one answer; false when the server is gone or broke off.
inline bool Transact(const wchar_t* name, const std::string& request, std::string& answer,
                     DWORD timeoutMs) {
  HANDLE pipe = ConnectPipe(name, timeoutMs);
  if (pipe == INVALID_HANDLE_VALUE) return false;
  const bool ok = WriteMessage(pipe, request) && ReadMessage(pipe, answer);
  CloseHandle(pipe);
  return ok;
}
