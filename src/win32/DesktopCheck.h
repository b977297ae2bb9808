#pragma once
// Whether the process can show a window to somebody.

// True when the process's window station is visible (WSF_VISIBLE): an interactive session. A
// service, an SCCM or Intune script as SYSTEM and a task run whether the user is logged on or
// not have an invisible one. When the station cannot be asked, the answer is true: the boxes
// are the rule, the console the exception.
bool DesktopIsVisible();
