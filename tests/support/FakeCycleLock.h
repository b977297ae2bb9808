#pragma once
// A cycle lock that another holder may keep taken; it records every wait asked for.

#include <vector>

#include "platform/CycleLock.h"

class FakeCycleLock : public CycleLock {
 public:
  bool TryAcquire(unsigned milliseconds) override {
    waits.push_back(milliseconds);
    if (takenElsewhere || held) return false;
    held = true;
    return true;
  }
  void Release() override {
    held = false;
    ++releases;
  }

  bool takenElsewhere = false;  // another process holds it for as long as this is set
  bool held = false;
  int releases = 0;
  std::vector<unsigned> waits;
};
