#pragma once
// appcmd's answers in its /xml form, which carries every letter of a name: UTF-8 XML whose root
// element <appcmd> holds one empty element per object found, its properties as attributes, e.g.
//   <appcmd><APP APP.NAME="Site/" APPPOOL.NAME="Pool" SITE.NAME="Site" /></appcmd>
// Only what the service needs is read; anything that is not such an answer raises.

#include <string>
#include <vector>

// The application pools of `list app /site.name:"..." /xml`: APPPOOL.NAME of every APP element,
// in order, each once without regard to letter case (the first spelling kept). Raises Exception
// when the bytes are not UTF-8, not XML of that form, or an APP element names no pool.
std::vector<std::wstring> ParseAppPoolsXml(const std::string& bytes);
