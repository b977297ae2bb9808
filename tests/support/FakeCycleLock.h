#pragma once
// A cycle lock that another holder may keep taken; it records every wait asked for.

#include <vector>

#include "core/Exception.h"
#include "platform/CycleLock.h"

class FakeCycleLock : public CycleLock {
 public:
  bool TryAcquire(unsigned milliseconds) override {
    waits.push_back(milliseconds);
    if (unreachable) throw Exception(L"Der Ordner der Zyklussperre ist nicht sicher.");
    if (takenElsewhere || held) return false;
    held = true;
    return true;
  }
  void Release() override {
    held = false;
    ++releases;
  }

  void Claim(const std::wstring& folder) override {
    ++claims;
    claimedFolder = folder;
    if (!squatter.empty()) throw Exception(L"Fremder Besitzer " + squatter);
  }

  int claims = 0;
  std::wstring claimedFolder;
  std::wstring squatter;        // the owner of an object of the lock's name made by somebody else
  bool unreachable = false;     // the folder of the lock is missing or not the service's
  bool takenElsewhere = false;  // another process holds it for as long as this is set
  bool held = false;
  int releases = 0;
  std::vector<unsigned> waits;
};
