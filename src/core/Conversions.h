#pragma once
// The text conversions of the configuration and the version check. Portable: the regional
// decimal separator is an input, never looked up here.

#include <cstdint>
#include <string>

// Text to a signed 32-bit integer. Accepts leading spaces (nothing else), one optional sign, then
// either decimal digits (-2147483648..2147483647) or a hex prefix ("$", "x", "X", "0x", "0X") with
// 1 to 8 significant hex digits taken as a 32-bit pattern, which a "-" negates. Nothing may follow
// the last digit. Raises EConvertError "'<text>' ist kein gültiger Integerwert für Typ 'Integer'".
std::int32_t StrToInt(const std::wstring& text);

// Text to a Boolean. A number in the regional format (blanks around it, sign, digits with at most
// one decimalSeparator, optional exponent; also NAN, INF, +INF, -INF in any case) is true unless it
// is zero; otherwise "True" or "False" in any case. Anything else, the empty text included, raises
// EConvertError "'<text>' ist kein gültiger boolescher Wert".
bool StrToBool(const std::wstring& text, wchar_t decimalSeparator);

// Makes a folder text end with a backslash (only "\" counts; "" becomes "\").
std::wstring ApplyFolderRule(const std::wstring& folder);
