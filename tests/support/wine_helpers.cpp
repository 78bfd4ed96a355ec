#include "tests/support/wine_helpers.h"

#include <algorithm>

#include "framework/application.h"

namespace testsupport {

bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        fw::Application->ProcessMessages();
        if (done()) return true;
        ULONGLONG now = GetTickCount64();
        if (now >= deadline) return false;
        // Woken by any message; conditions outside this process (another
        // program's windows, a server's log) are looked at every 50 ms.
        const DWORD wait = static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, 50));
        MsgWaitForMultipleObjectsEx(0, nullptr, wait, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
}

void PumpFor(DWORD ms) {
    PumpUntil([] { return false; }, ms);
}

double ProcessCpuMs() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto ms = [](FILETIME f) {
        ULARGE_INTEGER u;
        u.LowPart = f.dwLowDateTime;
        u.HighPart = f.dwHighDateTime;
        return static_cast<double>(u.QuadPart) / 10000.0;
    };
    return ms(kernel) + ms(user);
}

CapturedBoxes& ExceptionBoxes() {
    static CapturedBoxes boxes;
    return boxes;
}

std::string ExeDirectory() {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s(path, n);
    return s.substr(0, s.find_last_of("\\/") + 1);
}

}  // namespace testsupport
