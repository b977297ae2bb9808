#pragma once
// The pieces of the small "KEY=value" files the service keeps for itself and reads back with
// suspicion (the records, the partial download's record).

#include <string>
#include <vector>

// The file's lines, split at "\n" (a last line without one included; none for an empty file).
std::vector<std::string> SplitRecordLines(const std::string& bytes);

// Whether text holds a control character (below 0x20, or DEL): no value the service writes does.
bool HasControlCharacters(const std::wstring& text);
