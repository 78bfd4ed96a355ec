// popcheck --timeout SECONDS bounds each wait of its check: against a server
// that takes the connection and never says a word it gives up (exit code 75)
// after that time, not after 60 seconds.
#include <windows.h>

#include <string>

#include "framework/handles.h"
#include "gtest/gtest.h"
#include "tests/support/scripted_server.h"
#include "tests/support/wine_helpers.h"

TEST(Popcheck, TimeoutSecondsBoundEveryWait) {
    testsupport::ScriptedServer silent;
    silent.Start();
    std::string cmd = "\"" + testsupport::ExeDirectory() + "..\\..\\mail\\popcheck.exe\" --timeout 1 " +
                      silent.Address() + " anna pw";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    const ULONGLONG start = GetTickCount64();
    ASSERT_TRUE(CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) << cmd;
    fw::UniqueKernelHandle process(pi.hProcess), thread(pi.hThread);
    if (WaitForSingleObject(pi.hProcess, 10000) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 99);
    const ULONGLONG took = GetTickCount64() - start;
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    EXPECT_TRUE(silent.Accepted());
    EXPECT_EQ(code, 75u);  // a time-out passes by itself
    EXPECT_LT(took, 4000u);
}
