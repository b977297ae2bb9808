#include <gtest/gtest.h>

#include "core/AppPoolRecycle.h"
#include "core/AppcmdXml.h"
#include "core/Exception.h"
#include "core/ExchangeJournal.h"

TEST(AppPoolRecycleTest, CommandsQuoteTheNames) {
  EXPECT_EQ(ListAppPoolsCommand(L"Default Web Site"),
            L"/c inetsrv\\appcmd list app /site.name:\"Default Web Site\" /xml");
  EXPECT_EQ(PoolAttributeCommand(L"KORVAL Pool", kPoolOverlapDisallowed),
            L"/c inetsrv\\appcmd list apppool /apppool.name:\"KORVAL Pool\" "
            L"/text:recycling.disallowOverlappingRotation");
  EXPECT_EQ(RecyclePoolCommand(L"P"), L"/c inetsrv\\appcmd recycle apppool /apppool.name:\"P\"");
}

// appcmd's /xml answer to `list app` with one APP element per pool given.
std::string AppList(std::vector<std::string> pools) {
  std::string xml = "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<appcmd>\r\n";
  for (const std::string& pool : pools)
    xml += "<APP APP.NAME=\"S/\" APPPOOL.NAME=\"" + pool + "\" />";
  return xml + "</appcmd>\r\n";
}

TEST(AppPoolRecycleTest, ThePoolsOfASiteKeepEveryLetterOfTheirNames) {
  using Pools = std::vector<std::wstring>;
  EXPECT_EQ(ParseAppPoolsXml(AppList({"KorvalPool", "korvalpool", "Zweiter Pool", "KORVALPOOL"})),
            (Pools{L"KorvalPool", L"Zweiter Pool"}));
  EXPECT_EQ(ParseAppPoolsXml(AppList({"Kundenportal M\xC3\xBCller", "O'Brien"})),
            (Pools{L"Kundenportal M\u00FCller", L"O'Brien"}));
  EXPECT_EQ(ParseAppPoolsXml(AppList({"A&amp;B &quot;&#252;&#x00DF;&apos;&lt;&gt;"})),
            (Pools{L"A&B \"\u00FC\u00DF'<>"}));
  EXPECT_EQ(ParseAppPoolsXml("<appcmd><APP APPPOOL.NAME = 'P\"1' /><!-- x --></appcmd>"),
            (Pools{L"P\"1"}));
  EXPECT_EQ(ParseAppPoolsXml(AppList({})), Pools{});
  // The text form, the OEM code page, unknown references, a surrogate, no character, no pool
  // or no attribute, an attribute without its end, an error: never a list of names.
  for (const std::string& xml : {std::string("KorvalPool\r\n"), AppList({"M\xFCller"}),
                                 AppList({"A&nbsp;B"}), AppList({"A&#xD800;"}), AppList({"A&#0;"}),
                                 AppList({""}), std::string("<appcmd><APP A=\"1\" /></appcmd>"),
                                 std::string("<appcmd><APP APPPOOL.NAME=\"P /></appcmd>"),
                                 std::string("<ERROR message=\"x\" />")}) {
    EXPECT_THROW(ParseAppPoolsXml(xml), Exception) << xml;
  }
}

TEST(AppPoolRecycleTest, ParsesAppcmdAnswers) {
  using Pools = std::vector<std::wstring>;
  const struct {
    const wchar_t* text;
    std::optional<bool> started, flag;
    std::optional<std::uint32_t> seconds;
  } rows[] = {
      {L"Started\r\n", true, std::nullopt, std::nullopt},
      {L"Stopped", false, std::nullopt, std::nullopt},
      {L"true\r\n", std::nullopt, true, std::nullopt},
      {L"False", std::nullopt, false, std::nullopt},
      {L"00:01:30\r\n", std::nullopt, std::nullopt, 90},
      {L"1.00:00:05.5000", std::nullopt, std::nullopt, 86405},
      {L"00:61:00", std::nullopt, std::nullopt, std::nullopt},
      {L"Started\r\nStopped\r\n", std::nullopt, std::nullopt, std::nullopt},
      {L"ERROR ( message:x )", std::nullopt, std::nullopt, std::nullopt},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(ParsePoolStarted(r.text), r.started) << r.text;
    EXPECT_EQ(ParseAppcmdBool(r.text), r.flag) << r.text;
    EXPECT_EQ(ParseTimeSpanSeconds(r.text), r.seconds) << r.text;
  }
  // The wait for a new worker: the pool's limit, 60 s when unread, never over 5 minutes.
  EXPECT_EQ(WorkerStartWaitSeconds(std::nullopt), 60u);
  EXPECT_EQ(WorkerStartWaitSeconds(300), 300u);
  EXPECT_EQ(WorkerStartWaitSeconds(86405), 300u);
}

TEST(AppPoolRecycleTest, ModeDecisionTable) {
  const PoolFinding running{L"A", true, false};
  const struct {
    SiteMode configured;
    PoolSurvey survey;
    const wchar_t* reason;  // empty: recycle (or STOPP configured)
    bool recycle;
  } rows[] = {
      {SiteMode::Stop, {L"S", L"", {running}}, L"", false},
      {SiteMode::Recycle, {L"S", L"", {running, {L"B", true, false}}}, L"", true},
      {SiteMode::Recycle,
       {L"S", L"kaputt", {}},
       L"Die Anwendungspools der Site \"S\" konnten nicht ermittelt werden (kaputt).",
       false},
      {SiteMode::Recycle,
       {L"S", L"", {}},
       L"Für die Site \"S\" wurde kein Anwendungspool gefunden.",
       false},
      {SiteMode::Recycle,
       {L"S", L"", {running, {L"B", false, false}}},
       L"Der Anwendungspool \"B\" läuft nicht.",
       false},
      {SiteMode::Recycle,
       {L"S", L"", {{L"A", true, true}}},
       L"Der Anwendungspool \"A\" erlaubt kein überlappendes Recycling "
       L"(disallowOverlappingRotation).",
       false},
      {SiteMode::Recycle,
       {L"S", L"", {{L"A", true, std::nullopt}}},
       L"Der Zustand des Anwendungspools \"A\" ist nicht lesbar.",
       false},
      {SiteMode::Recycle,
       {L"S", L"", {{L"A\" & calc & \"", true, false}}},
       L"Unzulässiger Name eines Anwendungspools der Site \"S\".",
       false},
  };
  for (const auto& r : rows) {
    const ModeDecision d = DecideSiteMode(r.configured, r.survey);
    EXPECT_EQ(d.recycle, r.recycle) << r.reason;
    EXPECT_EQ(d.reason, r.reason);
  }
}

TEST(AppPoolRecycleTest, ModeValuesAndJournalMark) {
  EXPECT_EQ(ParseSiteMode(L"STOPP"), SiteMode::Stop);
  EXPECT_EQ(ParseSiteMode(L" recycle"), SiteMode::Recycle);
  EXPECT_THROW(ParseSiteMode(L"RECYCLING"), Exception);
  EXPECT_THROW(ParseSiteMode(L""), Exception);
  const std::string plan = EncodeJournalRecord(PlanRecord(ExchangePlan{}));
  EXPECT_FALSE(JournalMarksRecycle(plan + EncodeJournalRecord("GESTOPPT")));
  EXPECT_TRUE(JournalMarksRecycle(plan + EncodeJournalRecord(RecycleJournalPayload())));
  EXPECT_FALSE(JournalMarksRecycle(EncodeJournalRecord(RecycleJournalPayload())));
}
