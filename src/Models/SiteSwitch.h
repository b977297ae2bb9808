#pragma once
// How the site comes to run the DLLs at its target paths after the swaps: by a stop before and a
// start after them (StopStartSwitch), or by a recycle of its application pools after them, the
// site never stopping (RecycleSwitch).

#include <string>

class HeldFile;
struct ExchangePlan;

class SiteSwitch {
 public:
  virtual ~SiteSwitch() = default;
  // Whether the site can take a DLL this way: yes; no (the exchange ends); or not this way, the
  // site must be stopped for it instead.
  enum class Verdict { Yes, No, NotThisWay };
  // After staging, before anything is stopped: whether the site can take the verified DLL this
  // way; logs why not.
  virtual Verdict CanTake(HeldFile& verified, const ExchangePlan& plan) = 0;
  // Right before the swaps. False when nothing was changed and the exchange must end.
  virtual bool BeforeSwaps() = 0;
  // Whether requests are refused between BeforeSwaps and AfterSwaps (the downtime reported).
  virtual bool StopsTheSite() const = 0;
  // After the swaps: the site serves what the target paths hold now. newSet: every copy was
  // swapped (else the old set is back). False (logged) when it does not.
  virtual bool AfterSwaps(bool newSet) = 0;
  // Whether a failed AfterSwaps puts the old set back (a recycle that fails) rather than leaving
  // the site to the next tick (a start that fails).
  virtual bool RollsBackWhenNotTaken() const = 0;
  // Before every copy is put back after the site ran the new set.
  virtual void BeforeRestore() = 0;
  // After the copies were put back (allBack: every one): the site serves the old set again.
  // False (logged) when it does not.
  virtual bool AfterRestore(bool allBack) = 0;
};
