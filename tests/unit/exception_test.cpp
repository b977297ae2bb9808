#include "core/Exception.h"

#include <gtest/gtest.h>

TEST(ExceptionTest, ConvertErrorIsAnExceptionWithItsMessage) {
  try {
    throw EConvertError(L"'abc' ist kein gültiger Integerwert für Typ 'Integer'");
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), L"'abc' ist kein gültiger Integerwert für Typ 'Integer'");
    EXPECT_STREQ(e.ClassName(), "EConvertError");
  }
}
