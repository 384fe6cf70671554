#include "platform/download_answer.h"

#include <gtest/gtest.h>

namespace {

using platform::DownloadAnswer;

const std::u16string kPackageHeaders =
    u"HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: 100\r\n\r\n";

TEST(DownloadAnswer, TheAnswerDecidesBeforeTheFileIsLookedAt) {
  constexpr std::uint64_t kAny = ~std::uint64_t{0};
  const struct {
    const char* name;
    DownloadAnswer answer;
    std::uint64_t maxBytes;
    std::int32_t expected;
  } cases[] = {
      {"a package with its length", {200, kPackageHeaders, 100, 100}, kAny, 0},
      {"a package without a length (chunked)", {200, u"HTTP/1.1 200 OK\r\n\r\n", 100, 0}, kAny, 0},
      {"206 is 2xx too", {206, u"", 100, 100}, kAny, 0},
      {"no answer at all", {0, u"", 0, 0}, kAny, platform::kInetEDownloadFailure},
      {"404, even with a body", {404, u"Content-Type: text/html\r\n", 20, 20}, kAny,
       static_cast<std::int32_t>(0x80190194u)},
      {"a redirect that was not followed", {302, u"", 0, 0}, kAny, static_cast<std::int32_t>(0x8019012Eu)},
      {"an HTML page with a 200", {200, u"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n", 50, 50}, kAny,
       platform::kInetENoValidMedia},
      {"an empty HTML page", {200, u"Content-Type: text/html\r\n", 0, 0}, kAny, platform::kInetENoValidMedia},
      {"more than the caller takes", {200, kPackageHeaders, 8192, 100000}, 512, platform::kFileTooLarge},
      {"exactly what the caller takes", {200, kPackageHeaders, 512, 512}, 512, 0},
      {"a body cut short", {200, kPackageHeaders, 50, 100}, kAny, platform::kInetEDownloadFailure},
      {"an empty body with a length of 0", {200, u"Content-Length: 0\r\n", 0, 0}, kAny,
       platform::kInetEDataNotAvailable},
      {"an empty body without a length", {200, u"", 0, 0}, kAny, platform::kInetEDataNotAvailable},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(platform::JudgeAnswer(c.answer, c.maxBytes), c.expected) << c.name;
  }
}

TEST(DownloadAnswer, OnlyTheServersContentTypeOfTextHtmlIsAnHtmlPage) {
  const struct {
    std::u16string headers;
    bool html;
  } cases[] = {
      {u"Content-Type: text/html\r\n", true},
      {u"content-type:TEXT/HTML; charset=utf-8\r\n", true},
      {u"Content-Type:\ttext/html ;charset=gbk\r\n", true},
      {u"HTTP/1.1 200 OK\r\nServer: x\r\nCONTENT-TYPE: Text/Html\r\n\r\n", true},
      {u"Content-Type: text/html", true},  // no line end
      {u"Content-Type: text/html\n", true},  // bare LF
      {u"Content-Type: application/octet-stream\r\n", false},
      {u"Content-Type: text/plain\r\n", false},
      {u"Content-Type: text/htmlx\r\n", false},
      {u"Content-Type: application/xhtml+xml\r\n", false},
      {u"X-Content-Type: text/html\r\n", false},
      {u"Content-Type-Options: text/html\r\n", false},
      {u"X-Note: Content-Type: text/html\r\n", false},
      {u"Content-Length: 9\r\n\r\n<html>", false},  // what the body holds doesn't count
      {u"", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(platform::IsHtmlContentType(c.headers), c.html)
        << std::string(c.headers.begin(), c.headers.end());
  }
}

}  // namespace
