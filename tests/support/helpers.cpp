#include "tests/support/helpers.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "desktop/tray_icon.h"
#include "framework/application.h"

namespace testsupport {

bool PumpUntil(const std::function<bool()>& done, DWORD ms) {
    for (const ULONGLONG deadline = GetTickCount64() + ms;;) {
        fw::Application->ProcessMessages();
        if (done()) return true;
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) return false;
        // Woken by any message; conditions outside this thread (another
        // program's windows, a server thread) are looked at every 20 ms.
        MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, 20)),
                                    QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
}

Later::Later(unsigned ms, std::function<void()> step) : fw::TTimer(nullptr) {
    SetInterval(ms);
    SetOnTimer([this, step](fw::TObject*) {
        SetEnabled(false);
        step();
    });
}

BoxList& Boxes() {
    static BoxList boxes;
    return boxes;
}

std::string ShellCall::tip() const { return std::string(data.szTip, strnlen(data.szTip, sizeof data.szTip)); }

ShellCalls::ShellCalls() {
    desktop::SetShellNotifySeam([this](DWORD message, const NOTIFYICONDATAA& data) {
        push_back({message, data});
        return TRUE;
    });
    desktop::SetShellNotifyWideSeam([this](DWORD, const NOTIFYICONDATAW& data) {
        char text[1024] = {};
        for (const WCHAR* part : {data.szInfoTitle, L"|", data.szInfo})
            WideCharToMultiByte(CP_UTF8, 0, part, -1, text + strlen(text), static_cast<int>(sizeof text - strlen(text)), nullptr, nullptr);
        balloons.push_back(text);
        return TRUE;
    });
}

ShellCalls::~ShellCalls() {
    desktop::SetShellNotifySeam(nullptr);
    desktop::SetShellNotifyWideSeam(nullptr);
}

void WriteValue(const char* key, const char* name, DWORD type, const void* data, DWORD size) {
    RegSetKeyValueA(HKEY_CURRENT_USER, key, name, type, data, size);
}

void WriteText(const char* key, const char* name, const std::string& text) {
    WriteValue(key, name, REG_SZ, text.data(), static_cast<DWORD>(text.size()));
}

void WriteNumber(const char* key, const char* name, DWORD value) { WriteValue(key, name, REG_DWORD, &value, sizeof value); }

std::string ReadValue(const char* key, const char* name) {
    char data[512] = {};
    DWORD type = 0, size = sizeof data - 1;
    if (RegGetValueA(HKEY_CURRENT_USER, key, name, RRF_RT_ANY, &type, data, &size) != ERROR_SUCCESS) return "";
    if (type == REG_BINARY) return std::string(data, size);
    return type == REG_DWORD ? "#" + std::to_string(*reinterpret_cast<DWORD*>(data)) : data;
}

fw::UniqueWindow ProgramManager(bool shown) {
    // Hidden unless asked: under Wine on a bare X server each hide of a
    // mapped window waits for the X server.
    return fw::UniqueWindow(CreateWindowExA(0, "STATIC", "Program Manager", WS_POPUP | (shown ? WS_VISIBLE : 0), 10, 10,
                                            40, 20, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr));
}

void SaveShot(HWND window, const std::string& name) {
    RECT r{};
    GetWindowRect(window, &r);
    const int w = r.right - r.left, h = r.bottom - r.top;
    BITMAPINFOHEADER bi{sizeof bi, w, h, 1, 24, BI_RGB, ((w * 3 + 3) & ~3u) * h, 0, 0, 0, 0};
    const BITMAPFILEHEADER head{0x4D42, DWORD(sizeof head + sizeof bi + bi.biSizeImage), 0, 0, sizeof head + sizeof bi};
    HDC screen = GetDC(nullptr);
    void* bits = nullptr;
    fw::UniqueHandle<HDC, &::DeleteDC> mem(CreateCompatibleDC(screen));
    fw::UniqueHandle<HGDIOBJ, &::DeleteObject> dib(
        CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&bi), DIB_RGB_COLORS, &bits, nullptr, 0));
    SelectObject(mem.get(), dib.get());
    BitBlt(mem.get(), 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    ReleaseDC(nullptr, screen);
    GdiFlush();
    // A Unix path from the environment reaches Windows programs as Z:\...
    std::string path = std::getenv("TIDEMARK_ARTIFACTS") ? std::string("Z:") + std::getenv("TIDEMARK_ARTIFACTS") : ".";
    std::replace(path.begin(), path.end(), '/', '\\');
    std::ofstream(path + "\\" + name + ".bmp", std::ios::binary)
        .write(reinterpret_cast<const char*>(&head), sizeof head)
        .write(reinterpret_cast<const char*>(&bi), sizeof bi)
        .write(static_cast<const char*>(bits), bi.biSizeImage);
}

std::string SourcePath(const std::string& relative) {
    std::string path = "Z:" TIDEMARK_SOURCE_DIR "/" + relative;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

double CpuMs() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto ms = [](FILETIME f) { return (static_cast<double>(f.dwHighDateTime) * 4294967296.0 + f.dwLowDateTime) / 1e4; };
    return ms(kernel) + ms(user);
}

}  // namespace testsupport
