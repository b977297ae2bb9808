#include "core/UpdateRing.h"

RingDecision DecideRing(const std::optional<SeenVersion>& recorded, const std::wstring& published,
                        std::int64_t nowUnix, int delayHours) {
  RingDecision decision;
  decision.record = {published, nowUnix};
  if (recorded && recorded->version == published && recorded->firstSeenUnix <= nowUnix) {
    decision.record = *recorded;
  }
  const std::int64_t delay = delayHours > 0 ? static_cast<std::int64_t>(delayHours) * 3600 : 0;
  decision.installFrom = decision.record.firstSeenUnix + delay;
  decision.install = nowUnix >= decision.installFrom;
  return decision;
}
