#pragma once
// Deciding whether an installed version counts as older than the published one.

#include <cstdint>
#include <string>

// The text with every "." removed; nothing else changes.
std::wstring RemoveDots(const std::wstring& text);

// Whether text is a dotted decimal version: after optional leading blanks, at least two groups of
// decimal digits joined by single dots, and nothing else (for example "2.1.0.15").
bool IsDottedDecimal(const std::wstring& text);

// Whether text is a version as a version resource can hold it: a dotted decimal (see above) of at
// most four parts, each 0 to 65535. Such texts compare part by part even when their digits without
// the dots exceed the integer range (1.0.9100.30000).
bool IsResourceVersion(const std::wstring& text);

// Whether text is a resource version written with all four parts, as a release names one
// ("2.1.0.1"; no leading blank).
bool IsFourPartVersion(const std::wstring& text);

// Part by part, numerically, a missing part counting as 0: negative when a is lower, 0 when
// equal, positive when higher. Both must be dotted decimals.
int CompareDottedVersions(const std::wstring& a, const std::wstring& b);

// Whether the local version counts as older than the online one. The numbers are the texts'
// integer conversions after their dots were removed; the caller has made them, so only texts that
// convert ever arrive here. Two dotted decimal texts are compared part by part, numerically, left
// to right (a missing part counts as 0), so 2.1.0.15 is older than 2.1.1.0; for any other pair
// the integer numbers decide.
bool IsOlderVersion(const std::wstring& localText, std::int32_t localNumber,
                    const std::wstring& onlineText, std::int32_t onlineNumber);

struct VersionVerdict {
  bool older = false;  // the local version counts as older than the online one
  bool newer = false;  // the local version counts as newer than the online one
};

// The verdict of the version check for one local version text against the online one. Two
// resource versions compare by parts; otherwise both texts, without their dots, go through the
// integer conversion (the online text first), which raises EConvertError when one does not
// convert (an empty text of an unreadable DLL, for one).
VersionVerdict CompareWithOnline(const std::wstring& localText, const std::wstring& onlineText);

// Whether two version texts are equal by the same rule: neither counts as older than the other.
// Two resource versions compare by parts; any other text that the integer conversion rejects
// (after its dots are removed) equals nothing.
bool IsSameVersion(const std::wstring& a, const std::wstring& b);

// The product version of a version resource as "%d.%d.%d.%d": the high and low words of the
// most significant, then of the least significant double word, each unsigned and without
// leading zeros.
std::wstring FormatProductVersion(std::uint32_t mostSignificant, std::uint32_t leastSignificant);
