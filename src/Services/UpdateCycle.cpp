#include "Services/UpdateCycle.h"

#include "Models/DLLSynchronisierer.h"

bool RunUpdateCycle(TDLLSynchronisierer& engine) {
  if (!engine.PruefeAufNeueVersion()) return false;
  engine.DownloadeDLLVonWebseite();
  // Always follows the download; a download that failed its checks leaves nothing to restart for.
  engine.StarteIISNeu();
  return true;
}
