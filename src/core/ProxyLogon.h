#pragma once
// When a request may answer a demand for the caller's identity with the machine's own logon
// (for LocalSystem the computer account): only to a proxy an administrator named, only for the
// update server's clients, and only when PROXYANMELDUNG allows it. Everyone else who asks (a web
// server with 401, a site's status page, a proxy found by discovery or named by a script, anyone
// answering a request that went direct) would receive an NTLM exchange to relay.

#include <string>

#include "core/ProxyChoice.h"

// Which of the service's HTTP clients made the request.
enum class HttpClientRole { VersionCheck, Download, StatusPage };

struct IdentityDemand {
  ProxySource source = ProxySource::None;  // where the request's proxy came from
  HttpClientRole client = HttpClientRole::StatusPage;
  bool allowed = false;       // PROXYANMELDUNG=JA
  bool throughProxy = false;  // the request was sent through that proxy
  int status = 0;             // the answer's status
};

// True only for a 407 of a proxy that the request went through, named by an administrator (the
// account's fixed proxy or the machine's WinHTTP proxy), asked by the version check or the
// download, with PROXYANMELDUNG=JA.
bool MayAnswerWithMachineIdentity(const IdentityDemand& demand);

// The value of PROXYANMELDUNG: "NEIN" false, "JA" true (blanks around and case do not matter).
// Raises Exception for any other value.
bool ParseProxyLogon(const std::wstring& text);

// The download's failure when the proxy still demands a logon (407): `answered` tells whether the
// machine's identity was offered.
std::wstring ProxyLogonFailure(bool answered);
