#pragma once
// The message of the Exception an action raises, for tests that compare refusals by their text.

#include <functional>
#include <string>

#include "core/Exception.h"

inline std::wstring MessageOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const Exception& e) {
    return e.Message();
  }
  return L"<no exception>";
}
