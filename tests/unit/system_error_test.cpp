#include <gtest/gtest.h>

#include "core/SystemError.h"

TEST(SystemErrorTest, MessageCarriesCodeAndTrimmedPlatformText) {
  EXPECT_EQ(FormatSystemErrorMessage(
                1060, L"The specified service does not exist as an installed service. \r\n"),
            L"Systemfehler.  Code: 1060.\r\nThe specified service does not exist as an installed "
            L"service");
  EXPECT_EQ(FormatSystemErrorMessage(5, L"Zugriff verweigert...  \r\n\r\n"),
            L"Systemfehler.  Code: 5.\r\nZugriff verweigert");
  EXPECT_EQ(FormatSystemErrorMessage(12345, L""), L"Systemfehler.  Code: 12345.\r\n");
}

TEST(SystemErrorTest, CodeZeroHasItsOwnText) {
  EXPECT_EQ(FormatSystemErrorMessage(0, L"The operation completed successfully.\r\n"),
            L"Ein Aufruf einer Betriebssystemfunktion ist fehlgeschlagen");
}
