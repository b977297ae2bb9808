#pragma once
// Reading and writing whole files through an open handle. Each raises Exception on failure.

#include <windows.h>

#include <cstddef>
#include <functional>
#include <string>

void WriteAll(HANDLE file, const char* data, std::size_t bytes);
// Reads the whole file from its start, a piece at a time.
void ReadFromStart(HANDLE file, const std::function<void(const char*, DWORD)>& piece);
// Up to maxBytes from the start of an open file.
std::string HeadOf(HANDLE file, std::size_t maxBytes);
