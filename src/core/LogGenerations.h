#pragma once
// The run log's history: before a run begins the file anew, the previous file is kept as
// generation 1 ("Protokoll.1.txt") and the older ones move up by one, the oldest kept being
// generation `generations`.

#include <string>
#include <utility>
#include <vector>

// The name of generation n beside `path`: the number goes before the extension
// ("C:\log\Protokoll.txt", 2 gives "C:\log\Protokoll.2.txt").
std::wstring GenerationPath(const std::wstring& path, int n);

// The renames that make room, to be done in this order (each replacing its target): generation
// generations-1 onto generations, ..., 1 onto 2, the file itself onto 1. None for 0 generations.
std::vector<std::pair<std::wstring, std::wstring>> GenerationShift(const std::wstring& path,
                                                                   int generations);
