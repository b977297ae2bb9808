#pragma once
// Absolute http(s) URLs: parsing, and resolving a redirect's Location against the URL requested.

#include <string>

struct Url {
  std::wstring scheme;  // "http" or "https", lower case
  std::wstring host;
  unsigned port = 0;          // explicit or the scheme's default
  std::wstring pathAndQuery;  // at least "/"
  std::wstring fragment;      // without "#", empty when none

  std::wstring ToString() const;  // without the fragment unless keepFragment is asked for
  std::wstring ToStringWithFragment() const;
};

// Parses an absolute URL. Raises Exception "Ungültiger URL: "<text>"" when it cannot.
Url ParseUrl(const std::wstring& text);

// Resolves a Location header against the URL just requested; the requested URL's fragment is
// carried over when the location has none.
Url ResolveRedirect(const Url& base, const std::wstring& location);
