#include <gtest/gtest.h>

#include "core/WinHttpErrors.h"

namespace {

TEST(TransportFailureMessage, UsesTheStagePrefixCodeAndOwnText) {
  EXPECT_EQ(TransportFailureMessage(TransportStage::Send, 12029, L"platform"),
            L"Fehler beim Senden der Daten: (12029) Es konnte keine Verbindung mit dem Server "
            L"hergestellt werden");
  EXPECT_EQ(TransportFailureMessage(TransportStage::Receive, 10060, L""),
            L"Fehler beim Empfangen der Daten: (10060) Zeitüberschreitung bei der Verbindung");
  EXPECT_EQ(TransportFailureMessage(TransportStage::Read, 12030, L""),
            L"Fehler beim Lesen der Daten: (12030) Die Verbindung mit dem Server wurde unerwartet "
            L"beendet");
}

TEST(TransportFailureMessage, FallsBackToThePlatformText) {
  EXPECT_EQ(TransportFailureMessage(TransportStage::Send, 5, L"Zugriff verweigert"),
            L"Fehler beim Senden der Daten: (5) Zugriff verweigert");
}

TEST(TransportErrorText, CoversTheCommonTransportCodes) {
  for (std::uint32_t code : {12002u, 12007u, 12029u, 12030u, 12152u, 12157u, 12175u, 10060u}) {
    EXPECT_FALSE(TransportErrorText(code).empty()) << code;
  }
  EXPECT_TRUE(TransportErrorText(4711).empty());
}

struct CertificateCase {
  std::uint32_t code;
  bool underWine;
  bool certificate;
};

class IsCertificateFailureTest : public ::testing::TestWithParam<CertificateCase> {};

TEST_P(IsCertificateFailureTest, Decides) {
  const CertificateCase& c = GetParam();
  EXPECT_EQ(IsCertificateFailure(c.code, c.underWine), c.certificate) << c.code;
}

INSTANTIATE_TEST_SUITE_P(
    Codes, IsCertificateFailureTest,
    ::testing::Values(CertificateCase{12175, false, true}, CertificateCase{12175, true, true},
                      CertificateCase{12045, false, true}, CertificateCase{12038, false, true},
                      CertificateCase{12037, true, true}, CertificateCase{12169, false, true},
                      // the secure channel's own failure is a certificate failure only under Wine
                      CertificateCase{12157, false, false}, CertificateCase{12157, true, true},
                      CertificateCase{12029, true, false}, CertificateCase{12002, false, false}));

}  // namespace
