#include "core/CaughtError.h"

#include <exception>

#include "core/Exception.h"

namespace {

std::wstring Widen(const char* text) {
  std::wstring wide;
  for (const char* p = text; *p != '\0'; ++p)
    wide += static_cast<wchar_t>(static_cast<unsigned char>(*p));
  return wide;
}

}  // namespace

std::wstring CaughtErrorMessage() {
  try {
    throw;
  } catch (const Exception& e) {
    return e.Message();
  } catch (const std::exception& e) {
    return Widen(e.what());
  } catch (...) {
    return std::wstring();
  }
}

std::wstring CaughtErrorClassName() {
  try {
    throw;
  } catch (const Exception& e) {
    return Widen(e.ClassName());
  } catch (...) {
    return L"Exception";
  }
}
