// The exchange journal: framing that survives a torn or damaged tail, and what a start decides
// from the steps it finds.
#include <gtest/gtest.h>

#include "core/ExchangeJournal.h"

namespace {

ExchangePlan TwoEntries() {
  return {L"20250605120005000",
          L"Default Web Site",
          L"Pool ü",
          {{L"C:\\a\\K.dll", L"C:\\a\\K.dll.n", L"C:\\a\\K.dll.s", L"C:\\a\\K.dll.v", true},
           {L"C:\\b\\K.dll", L"C:\\b\\K.dll.n", L"C:\\b\\K.dll.s", L"C:\\b\\K.dll.v", false}}};
}

std::string Journal(std::initializer_list<std::string> payloads) {
  std::string bytes;
  for (const std::string& p : payloads) bytes += EncodeJournalRecord(p);
  return bytes;
}

TEST(ExchangeJournal, ThePlanReadsBackWholeWithEveryField) {
  const JournalState state = ReadJournal(Journal({PlanRecord(TwoEntries())}));
  ASSERT_TRUE(state.plan);
  EXPECT_EQ(state.plan->pool, L"Pool ü");
  ASSERT_EQ(state.plan->entries.size(), 2u);
  EXPECT_EQ(state.plan->entries[1].discarded, L"C:\\b\\K.dll.v");
  EXPECT_FALSE(state.plan->entries[1].hadOriginal);
  EXPECT_TRUE(state.siteMayBeStopped);
}

TEST(ExchangeJournal, ATornOrDamagedRecordEndsTheReading) {
  const std::string whole = Journal({"eins", "zwei", "drei"});
  EXPECT_EQ(DecodeJournalRecords(whole).size(), 3u);
  EXPECT_EQ(DecodeJournalRecords(whole.substr(0, whole.size() - 1)).size(), 2u);
  EXPECT_EQ(DecodeJournalRecords(whole.substr(0, 5)).size(), 0u);
  std::string damaged = whole;
  damaged[8 + 4 + 9] ^= 0x01;  // a byte of the second payload
  EXPECT_EQ(DecodeJournalRecords(damaged), (std::vector<std::string>{"eins"}));
  std::string huge = whole;
  huge[3] = '\x7f';  // a length no record has
  EXPECT_TRUE(DecodeJournalRecords(huge).empty());
}

TEST(ExchangeJournal, TheDecisionMovesTowardsAConsistentSet) {
  const std::string plan = PlanRecord(TwoEntries());
  const std::string stopped = StepRecord(JournalStep::Stopped);
  const std::string started = StepRecord(JournalStep::Started);
  const std::string swapped0 = StepRecord(JournalStep::Swapped, 0);
  const std::string swapped1 = StepRecord(JournalStep::Swapped, 1);
  const std::string rollback = StepRecord(JournalStep::RollbackBegun);
  const std::string begun = StepRecord(JournalStep::SwitchBegun);
  const std::string ended = StepRecord(JournalStep::SwitchEnded);
  // What the files of the two entries show (the second had no target before): not begun, half
  // swapped (the first target renamed aside, its staged copy not yet in place), swapped.
  const EntryFiles before0{true, true, false}, half0{false, true, true}, done0{true, false, true};
  const EntryFiles before1{false, true, false}, done1{true, false, false};
  const std::vector<EntryFiles> none{before0, before1}, first{done0, before1},
      firstHalf{half0, before1}, both{done0, done1};
  struct Case {
    std::string journal;
    std::vector<EntryFiles> files;
    bool restoreOld, restartAfterRestore, startSite;
  } cases[] = {
      {"", none, false, false, true},  // not even the plan: the stop may have been launched
      {Journal({plan}), none, true, false, true},
      {Journal({plan}), both, true, false, true},  // the files alone prove nothing before the switch
      // An earlier version's journal: one record per swap.
      {Journal({plan, stopped, swapped0}), both, true, false, true},
      {Journal({plan, stopped, swapped1}), both, true, false, true},  // out of order counts nothing
      {Journal({plan, stopped, swapped0, swapped1}), both, false, false, true},
      {Journal({plan, stopped, swapped0, swapped1, started}), both, false, false, false},
      {Journal({plan, stopped, swapped0, swapped1, started, rollback}), both, true, true, true},
      {Journal({plan, stopped, swapped0, swapped1, started, rollback, stopped}), both, true, false,
       true},
      // The switch began and no record followed: the files say how far it got.
      {Journal({plan, begun}), none, true, false, true},
      {Journal({plan, begun}), firstHalf, true, false, true},
      {Journal({plan, begun}), first, true, false, true},
      {Journal({plan, begun}), both, false, false, true},
      {Journal({plan, begun}), {done0}, true, false, true},  // files of another plan
      {Journal({plan, begun}), {{false, false, true}, done1}, true, false, true},  // no target
      {Journal({plan, ended}), none, true, false, true},     // an end without a beginning
      {Journal({plan, begun, ended}), none, false, false, true},
      {Journal({plan, begun, ended, started}), both, false, false, false},
      {Journal({plan, begun, ended, started, rollback}), both, true, true, true},
      {Journal({plan, begun, rollback}), both, true, false, true},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    const RecoveryDecision d = DecideRecovery(ReadJournal(c.journal), c.files);
    EXPECT_EQ(d.restoreOld, c.restoreOld) << "row " << i;
    EXPECT_EQ(d.restartAfterRestore, c.restartAfterRestore) << "row " << i;
    EXPECT_EQ(d.startSite || d.restartAfterRestore, c.startSite) << "row " << i;
  }
}

TEST(ExchangeJournal, GenerationsSortByTheirSequenceWhateverTheClockSaid) {
  const std::wstring earlier = L"20300101000000000";  // an earlier version's form
  const std::wstring first = MakeGeneration(1, L"20991231235959999");
  const std::wstring second = MakeGeneration(2, L"20200101000000000");  // the clock set back
  for (const std::wstring& g : {earlier, first, second}) EXPECT_TRUE(IsGeneration(g));
  for (const wchar_t* bad : {L"", L"2030010100000000", L"00000001_2030010100000000x",
                             L"\\..\\..\\x", L"00000001-20300101000000000"}) {
    EXPECT_FALSE(IsGeneration(bad)) << std::wstring(bad).size();
  }
  EXPECT_LT(GenerationSortKey(earlier), GenerationSortKey(first));
  EXPECT_LT(GenerationSortKey(first), GenerationSortKey(second));
  EXPECT_EQ(GenerationSequence(second), 2u);
  // The sequence stops at its largest value instead of wrapping to one that sorts as the oldest.
  for (const auto& [highest, next] :
       {std::pair{41u, 42u}, {99999999u, 99999999u}, {~0u, 99999999u}})
    EXPECT_EQ(NextGenerationSequence(highest), next) << highest;
  EXPECT_EQ(MakeGeneration(100000000, L"20200101000000000"), L"99999999_20200101000000000");
  EXPECT_EQ(GenerationOfFileName(L"K.dll." + second + L"-3.sicherung", L"K.dll."), second);
}
}  // namespace
