#include "console/messages.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <sstream>

#include "layout/layout.h"
#include "test_support.h"

namespace {

const std::string kName = Bytes("56 65 6C 6D 6F 72 61 2E 65 78 65");  // Velmora.exe

TEST(Messages, EachMessageIsItsCodePage936BytesAndOneLineFeed) {
  const struct {
    const char* message;
    std::string bytes;
  } cases[] = {
      {MsgClosing, Bytes("B9 D8 B1 D5") + kName + Bytes("2E 2E 2E")},
      {MsgDownloading, Bytes("CF C2 D4 D8 B8 FC D0 C2 CE C4 BC FE 2E 2E 2E")},
      {MsgDownloadFailed, Bytes("CF C2 D4 D8 CA A7 B0 DC A3 AC B4 ED CE F3 C2 EB A3 BA")},
      {MsgVerifyFailed, Bytes("B8 FC D0 C2 CE C4 BC FE D0 A3 D1 E9 CA A7 B0 DC A3 AC B4 ED CE F3 C2 EB A3 BA")},
      {MsgReplaceFailed, Bytes("B8 FC D0 C2 CE C4 BC FE CA A7 B0 DC")},
      {MsgStarting, Bytes("C6 F4 B6 AF") + kName + Bytes("2E 2E 2E")},
      {MsgStartFailed, Bytes("C6 F4 B6 AF B3 CC D0 F2 CA A7 B0 DC A3 AC B4 ED CE F3 C2 EB A3 BA")},
      {MsgDone, Bytes("B8 FC D0 C2 CD EA B3 C9 B2 A2 D2 D1 C6 F4 B6 AF B3 CC D0 F2 A3 A1")},
      {MsgAppDataNotFound,
       Bytes("D5 D2 B2 BB B5 BD D3 A6 D3 C3 CA FD BE DD CE C4 BC FE BC D0 A3 AC B4 ED CE F3 C2 EB A3 BA")},
  };
  for (const auto& c : cases) {
    std::ostringstream out;
    WriteMessage(out, c.message);
    EXPECT_EQ(out.str(), c.bytes + "\n") << "message of " << c.bytes.size() << " bytes";
  }
}

TEST(Messages, TheProgramNameInTheTextsIsTheLayoutsFileName) {
  EXPECT_EQ(kName, kTargetProgramFileName);
}

TEST(Messages, CodesArePlainDecimalWithNoSpaceBeforeThem) {
  const struct {
    std::int32_t code;
    const char* text;
  } signedCases[] = {
      {-2145844844, "-2145844844"},  // HTTP 404
      {std::numeric_limits<std::int32_t>::min(), "-2147483648"},
      {-1, "-1"},
      {0, "0"},
      {std::numeric_limits<std::int32_t>::max(), "2147483647"},
  };
  for (const auto& c : signedCases) {
    std::ostringstream out;
    WriteMessageWithSignedCode(out, MsgDownloadFailed, c.code);
    EXPECT_EQ(out.str(), std::string(MsgDownloadFailed) + c.text + "\n");
  }

  const struct {
    std::uint32_t code;
    const char* text;
  } unsignedCases[] = {
      {2, "2"},
      {0, "0"},
      {0x80000000u, "2147483648"},
      {std::numeric_limits<std::uint32_t>::max(), "4294967295"},
  };
  for (const auto& c : unsignedCases) {
    std::ostringstream out;
    WriteMessageWithUnsignedCode(out, MsgStartFailed, c.code);
    EXPECT_EQ(out.str(), std::string(MsgStartFailed) + c.text + "\n");
  }
}

}  // namespace
