// What the download makes of the server's answer, before it looks at the
// stored file. Portable: the Windows download feeds it what its status
// callback saw, and the unit tests drive it directly.
#ifndef VELMORA_PLATFORM_DOWNLOAD_ANSWER_H_
#define VELMORA_PLATFORM_DOWNLOAD_ANSWER_H_

#include <cstdint>
#include <string>

namespace platform {

// The codes a download fails with, besides the platform's own.
constexpr std::int32_t kInetEDownloadFailure = static_cast<std::int32_t>(0x800C0008u);  // INET_E_DOWNLOAD_FAILURE
constexpr std::int32_t kInetEDataNotAvailable = static_cast<std::int32_t>(0x800C0007u);  // INET_E_DATA_NOT_AVAILABLE
constexpr std::int32_t kInetENoValidMedia = static_cast<std::int32_t>(0x800C000Au);  // INET_E_NO_VALID_MEDIA
constexpr std::int32_t kFileTooLarge = static_cast<std::int32_t>(0x800700DFu);  // HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE)

// HRESULT of an HTTP status outside 2xx: FACILITY_HTTP with the status as
// its code (404 gives 0x80190194, the platform's HTTP_E_STATUS_NOT_FOUND).
constexpr std::int32_t FromHttpStatus(std::uint32_t status) {
  return static_cast<std::int32_t>(0x80190000u + (status & 0xFFFFu));
}

// What a download's status callback saw.
struct DownloadAnswer {
  std::uint32_t httpStatus = 0;      // 0 until the server has answered
  std::u16string responseHeaders;    // the server's own header lines
  std::uint64_t bytesReceived = 0;
  std::uint64_t bytesAnnounced = 0;  // 0 when the server sent no length
};

// 0 when the answer can be what was asked for, otherwise the HRESULT that
// says why not, in this order: no answer or a status outside 2xx; an HTML
// page (the Content-Type the server sent, never one guessed from the bytes:
// a captive portal's sign-in page or a CDN's "soft 404" is never a package);
// more than `maxBytes`; fewer bytes than announced; no bytes at all.
std::int32_t JudgeAnswer(const DownloadAnswer& answer, std::uint64_t maxBytes);

// True when one of `headers`' Content-Type lines names text/html, in any
// case and with any parameters.
bool IsHtmlContentType(const std::u16string& headers);

}  // namespace platform

#endif  // VELMORA_PLATFORM_DOWNLOAD_ANSWER_H_
