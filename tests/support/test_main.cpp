// Main of every test executable: one application object for the process,
// its exception boxes captured instead of shown, and a watchdog that ends a
// hung run with a clear message instead of letting it sit forever.
#include <windows.h>

#include <cstdio>

#include "framework/application.h"
#include "gtest/gtest.h"
#include "tests/support/helpers.h"

namespace {
DWORD WINAPI watchdog(LPVOID) {
    Sleep(120000);
    std::fprintf(stderr, "\nWATCHDOG: the test run exceeded 120 s; ending it\n");
    std::fflush(stderr);
    ExitProcess(3);
}
}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    CreateThread(nullptr, 0, watchdog, nullptr, 0, nullptr);
    fw::TApplication app;
    app.Title = "Tidemark";
    app.OnShowException = [](const std::string& text, const std::string& caption) {
        testsupport::Boxes().emplace_back(text, caption);
    };
    return RUN_ALL_TESTS();
}
