#include "platform/download_answer.h"

namespace platform {
namespace {

char16_t AsciiLower(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c; }

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

std::u16string Trimmed(const std::u16string& text) {
  std::size_t begin = 0, end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

bool EqualsIgnoringAsciiCase(const std::u16string& text, const std::u16string& lowerCase) {
  if (text.size() != lowerCase.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (AsciiLower(text[i]) != lowerCase[i]) return false;
  }
  return true;
}

}  // namespace

bool IsHtmlContentType(const std::u16string& headers) {
  std::size_t start = 0;
  while (start < headers.size()) {
    std::size_t end = headers.find(u'\n', start);
    if (end == std::u16string::npos) end = headers.size();
    std::u16string line = headers.substr(start, end - start);
    if (!line.empty() && line.back() == u'\r') line.pop_back();
    start = end + 1;

    const std::size_t colon = line.find(u':');
    if (colon == std::u16string::npos || !EqualsIgnoringAsciiCase(Trimmed(line.substr(0, colon)), u"content-type")) {
      continue;
    }
    const std::u16string value = line.substr(colon + 1);
    if (EqualsIgnoringAsciiCase(Trimmed(value.substr(0, value.find(u';'))), u"text/html")) return true;
  }
  return false;
}

std::int32_t JudgeAnswer(const DownloadAnswer& answer, std::uint64_t maxBytes) {
  if (answer.httpStatus == 0) return kInetEDownloadFailure;
  if (answer.httpStatus < 200 || answer.httpStatus > 299) return FromHttpStatus(answer.httpStatus);
  if (IsHtmlContentType(answer.responseHeaders)) return kInetENoValidMedia;
  if (answer.bytesReceived > maxBytes) return kFileTooLarge;
  if (answer.bytesAnnounced != 0 && answer.bytesReceived != answer.bytesAnnounced) return kInetEDownloadFailure;
  if (answer.bytesReceived == 0) return kInetEDataNotAvailable;
  return 0;
}

}  // namespace platform
