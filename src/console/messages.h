// The updater's console messages and the line writer.
//
// Every message is stored as code page 936 bytes and written unchanged: the
// program never converts text or sets the console's code page. Hex escapes
// are split from the ASCII that follows them so that no escape swallows a
// letter ("\xD5" "V", not "\xD5V").
#ifndef VELMORA_CONSOLE_MESSAGES_H_
#define VELMORA_CONSOLE_MESSAGES_H_

#include <cstdint>
#include <ostream>

// 关闭Velmora.exe...  (Closing Velmora.exe...)
constexpr char MsgClosing[] = "\xB9\xD8\xB1\xD5" "Velmora.exe...";
// 下载更新文件...  (Downloading the update file...)
constexpr char MsgDownloading[] =
    "\xCF\xC2\xD4\xD8\xB8\xFC\xD0\xC2\xCE\xC4\xBC\xFE" "...";
// 下载失败，错误码：  (Download failed, error code:)
constexpr char MsgDownloadFailed[] =
    "\xCF\xC2\xD4\xD8\xCA\xA7\xB0\xDC\xA3\xAC\xB4\xED\xCE\xF3\xC2\xEB\xA3\xBA";
// 更新文件校验失败，错误码：  (Update file verification failed, error code:)
constexpr char MsgVerifyFailed[] =
    "\xB8\xFC\xD0\xC2\xCE\xC4\xBC\xFE\xD0\xA3\xD1\xE9\xCA\xA7\xB0\xDC\xA3\xAC\xB4\xED\xCE\xF3\xC2\xEB\xA3\xBA";
// 更新文件失败  (Updating the file failed)
constexpr char MsgReplaceFailed[] = "\xB8\xFC\xD0\xC2\xCE\xC4\xBC\xFE\xCA\xA7\xB0\xDC";
// 启动Velmora.exe...  (Starting Velmora.exe...)
constexpr char MsgStarting[] = "\xC6\xF4\xB6\xAF" "Velmora.exe...";
// 启动程序失败，错误码：  (Starting the program failed, error code:)
constexpr char MsgStartFailed[] =
    "\xC6\xF4\xB6\xAF\xB3\xCC\xD0\xF2\xCA\xA7\xB0\xDC\xA3\xAC\xB4\xED\xCE\xF3\xC2\xEB\xA3\xBA";
// 更新完成并已启动程序！  (Update complete, the program has been started!)
constexpr char MsgDone[] =
    "\xB8\xFC\xD0\xC2\xCD\xEA\xB3\xC9\xB2\xA2\xD2\xD1\xC6\xF4\xB6\xAF\xB3\xCC\xD0\xF2\xA3\xA1";
// 找不到应用数据文件夹，错误码：  (The application data folder cannot be found, error code:)
constexpr char MsgAppDataNotFound[] =
    "\xD5\xD2\xB2\xBB\xB5\xBD\xD3\xA6\xD3\xC3\xCA\xFD\xBE\xDD\xCE\xC4\xBC\xFE\xBC\xD0"
    "\xA3\xAC\xB4\xED\xCE\xF3\xC2\xEB\xA3\xBA";

// Each writer puts one line on `out`: the message's bytes, the code if any,
// then "\n" (which a text-mode stream turns into CR LF on Windows). None of
// them flushes or looks at the stream's state: once a write has failed the
// stream skips every later one, and the run goes on regardless.
void WriteMessage(std::ostream& out, const char* message);
void WriteMessageWithSignedCode(std::ostream& out, const char* message, std::int32_t code);
void WriteMessageWithUnsignedCode(std::ostream& out, const char* message, std::uint32_t code);

#endif  // VELMORA_CONSOLE_MESSAGES_H_
