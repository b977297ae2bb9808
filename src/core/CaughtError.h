#pragma once
// The message and class of the error being handled, for handlers that catch everything.

#include <string>

// Call only inside a catch block. The Exception's message; for another std::exception its
// what() text; an empty text for anything else.
std::wstring CaughtErrorMessage();

// Call only inside a catch block. The error's class name as the "Anwendungsfehler" box shows it.
std::wstring CaughtErrorClassName();
