#include "support/FakeHttp.h"

#include "core/Exception.h"
#include "core/HttpFetch.h"

HttpScript& HttpScript::Respond(int status, std::string body, std::wstring contentType,
                                std::wstring contentEncoding) {
  ScriptedAnswer answer;
  answer.response.status = status;
  answer.response.body = std::move(body);
  answer.response.contentType = std::move(contentType);
  answer.response.contentEncoding = std::move(contentEncoding);
  answers.push_back(std::move(answer));
  return *this;
}

HttpScript& HttpScript::Redirect(int status, std::wstring location) {
  ScriptedAnswer answer;
  answer.response.status = status;
  answer.response.location = std::move(location);
  answers.push_back(std::move(answer));
  return *this;
}

HttpScript& HttpScript::Fail(std::wstring message) {
  ScriptedAnswer answer;
  answer.failure = std::move(message);
  answers.push_back(std::move(answer));
  return *this;
}

HttpResponse FakeHttpSession::Get(const Url& url, std::size_t maxBodyBytes) {
  return Get(url, maxBodyBytes, BodyReading::Always);
}

void FakeHttpSession::LimitTotalTime(unsigned milliseconds) {
  script_.totalTimeLimits.push_back(milliseconds);
}

HttpResponse FakeHttpSession::Get(const Url& url, std::size_t maxBodyBytes, BodyReading reading) {
  script_.readings.push_back(reading);
  script_.requestedUrls.push_back(url.ToString());
  script_.maxBodyBytes.push_back(maxBodyBytes);
  if (script_.answers.empty()) throw Exception(L"FakeHttp: no answer scripted");
  ScriptedAnswer answer = std::move(script_.answers.front());
  script_.answers.pop_front();
  if (answer.failure) throw Exception(*answer.failure);
  const bool redirect =
      IsRedirectStatus(answer.response.status) && !answer.response.location.empty();
  if (reading == BodyReading::Never || (reading == BodyReading::UnlessRedirect && redirect)) {
    answer.response.body.clear();
  }
  return answer.response;
}

std::unique_ptr<HttpSession> FakeHttpFactory::Create() {
  if (createFailure) throw Exception(*createFailure);
  ++script.sessionsCreated;
  return std::make_unique<FakeHttpSession>(script);
}
