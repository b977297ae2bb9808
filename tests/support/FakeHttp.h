#pragma once
// A scripted HTTP transport: each GET takes the next scripted answer (a response or a failure)
// and records the URL it was asked for.

#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/HttpTransport.h"

struct ScriptedAnswer {
  HttpResponse response;
  std::optional<std::wstring> failure;  // raised as Exception instead of answering
};

struct HttpScript {
  std::deque<ScriptedAnswer> answers;
  std::vector<std::wstring> requestedUrls;  // Url::ToString() of every GET, in order
  std::vector<std::size_t> maxBodyBytes;    // the limit each GET was given
  std::vector<BodyReading> readings;        // which bodies each GET was told to read
  std::vector<unsigned> totalTimeLimits;    // every LimitTotalTime, in order
  std::vector<std::wstring> conditions;     // every AskIfChangedSince as "etag|lastModified"
  int sessionsCreated = 0;
  int sessionsDestroyed = 0;

  // Appends a final response with the given status and body.
  HttpScript& Respond(int status, std::string body, std::wstring contentType = L"",
                      std::wstring contentEncoding = L"");
  // Appends a redirect response.
  HttpScript& Redirect(int status, std::wstring location);
  // Appends a transport failure with the given message.
  HttpScript& Fail(std::wstring message);
};

class FakeHttpSession : public HttpSession {
 public:
  explicit FakeHttpSession(HttpScript& script) : script_(script) {}
  ~FakeHttpSession() override { ++script_.sessionsDestroyed; }
  HttpResponse Get(const Url& url, std::size_t maxBodyBytes) override;
  // A body the reading leaves unread is dropped from the scripted answer.
  HttpResponse Get(const Url& url, std::size_t maxBodyBytes, BodyReading reading) override;
  void LimitTotalTime(unsigned milliseconds) override;
  void AskIfChangedSince(const std::wstring& etag, const std::wstring& lastModified) override {
    script_.conditions.push_back(etag + L"|" + lastModified);
  }

 private:
  HttpScript& script_;
};

class FakeHttpFactory : public HttpClientFactory {
 public:
  HttpScript script;
  std::optional<std::wstring> createFailure;  // Create raises Exception with this message
  std::vector<bool> proxyLogons;              // what each Create(bool) was given

  std::unique_ptr<HttpSession> Create() override;
  std::unique_ptr<HttpSession> Create(bool proxyLogon) override {
    proxyLogons.push_back(proxyLogon);
    return Create();
  }
};
