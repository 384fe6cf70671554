#include "update/close_instances.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "console/messages.h"
#include "fake_platform.h"

namespace {

TEST(CloseRunningInstances, TerminatesExactlyTheProcessesNamedLikeTheProgram) {
  const struct {
    const char* name;
    std::vector<fake::Process> processes;
    bool snapshotFails;
    std::vector<std::uint32_t> terminated;
  } cases[] = {
      {"no instance running", {{4, u"explorer.exe"}, {8, u"svchost.exe"}}, false, {}},
      {"nothing in the snapshot", {}, false, {}},
      {"several instances, in snapshot order",
       {{30, u"Velmora.exe"}, {4, u"explorer.exe"}, {12, u"Velmora.exe"}, {50, u"Velmora.exe"}},
       false,
       {30, 12, 50}},
      {"case of ASCII letters is ignored", {{7, u"VELMORA.EXE"}, {9, u"velmora.exe"}, {11, u"vElMoRa.ExE"}}, false,
       {7, 9, 11}},
      {"near misses are left running",
       {{1, u"Velmora.exe.bak"},
        {2, u"MyVelmora.exe"},
        {3, u"Velmora"},
        {4, u"Velmora.ex"},
        {5, u" Velmora.exe"},
        {6, u"Velmora.exe "},
        {7, u"Velmora\u0130.exe"},  // a non-ASCII letter in place of nothing
        {8, u"V\u0435lmora.exe"},   // Cyrillic ie instead of e
        {9, u"Velmor\u0391.exe"}},  // Greek capital alpha: no case folding beyond A-Z
       false,
       {}},
      {"a process that can't be opened leaves the others be",
       {{21, u"Velmora.exe"}, {22, u"Velmora.exe", false}, {23, u"Velmora.exe"}},
       false,
       {21, 23}},
      {"no snapshot: the phase ends after its message", {{40, u"Velmora.exe"}}, true, {}},
  };

  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fake::Reset();
    auto& state = fake::State();
    state.processes = c.processes;
    state.snapshotFails = c.snapshotFails;

    std::ostringstream out;
    CloseRunningInstances(out, "Velmora.exe");

    EXPECT_EQ(out.str(), std::string(MsgClosing) + "\n");
    EXPECT_EQ(state.terminated, c.terminated);
    EXPECT_TRUE(state.openHandles.empty()) << "the snapshot or a process handle was left open";
    for (const auto& call : state.calls) {
      if (call.rfind("TerminateProcess", 0) == 0) {
        EXPECT_EQ(call.substr(call.size() - 2), " 0") << call;
      }
    }
    const auto snapshots = std::count(state.calls.begin(), state.calls.end(), "CreateToolhelp32Snapshot");
    EXPECT_EQ(snapshots, 1) << "one snapshot per run";
  }
}

TEST(CloseRunningInstances, OnlyMatchingEntriesAreOpened) {
  fake::Reset();
  fake::State().processes = {{4, u"explorer.exe"}, {5, u"Velmora.exe"}, {6, u"notepad.exe"}};
  std::ostringstream out;
  CloseRunningInstances(out, "Velmora.exe");
  std::vector<std::string> opened;
  for (const auto& call : fake::State().calls) {
    if (call.rfind("OpenProcess", 0) == 0) opened.push_back(call);
  }
  EXPECT_EQ(opened, std::vector<std::string>{"OpenProcess 5"});
}

}  // namespace
