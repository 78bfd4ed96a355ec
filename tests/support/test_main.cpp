// Main of every test executable: one application object for the process,
// its exception boxes captured instead of shown, and a watchdog that ends a
// hung run with a clear message instead of letting it sit forever.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "framework/application.h"
#include "gtest/gtest.h"
#include "tests/support/wine_helpers.h"

namespace {
DWORD WINAPI watchdog(LPVOID arg) {
    DWORD seconds = static_cast<DWORD>(reinterpret_cast<UINT_PTR>(arg));
    Sleep(seconds * 1000);
    std::fprintf(stderr, "\nWATCHDOG: test run exceeded %lu s; ending it\n", static_cast<unsigned long>(seconds));
    std::fflush(stderr);
    ExitProcess(3);
}
}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    DWORD limit = 180;
    if (const char* env = std::getenv("TIDEMARK_TEST_WATCHDOG")) limit = static_cast<DWORD>(std::atoi(env));
    CreateThread(nullptr, 0, watchdog, reinterpret_cast<LPVOID>(static_cast<UINT_PTR>(limit)), 0, nullptr);
    fw::TApplication app;
    app.Title = "Tidemark";
    app.OnShowException = [](const std::string& text, const std::string& caption) {
        testsupport::ExceptionBoxes().boxes.emplace_back(text, caption);
    };
    return RUN_ALL_TESTS();
}
