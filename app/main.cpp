// Program entry: one Tidemark per user and session, no taskbar button, the
// splash, the controller form, the Setup dialog, then the message loop
// until "&Close".
#include <windows.h>

#include <string>

#include "app/setup_dialog.h"
#include "app/tray_controller.h"
#include "desktop/about_box.h"
#include "framework/application.h"
#include "framework/handles.h"

namespace {
// "Local\" keeps the name to this logon session; the user's name in it keeps
// two users of one session (runas) apart.
std::string instanceMutexName() {
    char user[257] = {};
    DWORD size = sizeof user;
    if (!GetUserNameA(user, &size)) user[0] = '\0';
    std::string name = "Local\\Brindlewick.Tidemark.";
    for (const char* c = user; *c; ++c) name += *c == '\\' ? '_' : *c;
    return name;
}
}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // Held until the program ends. A second Tidemark would show a second
    // icon, announce every message twice and write the same seen-id lists:
    // it asks the running one for its Setup instead, and ends quietly.
    const HANDLE mutex = CreateMutexA(nullptr, FALSE, instanceMutexName().c_str());
    // Read at once: ERROR_ALREADY_EXISTS comes with a valid handle.
    const DWORD error = GetLastError();
    const fw::UniqueKernelHandle instance(mutex);
    if (mutex && error == ERROR_ALREADY_EXISTS) {
        // The user started this one: the running one may bring Setup to the front.
        AllowSetForegroundWindow(ASFW_ANY);
        PostMessageA(HWND_BROADCAST, app::TTrayController::SecondStartMessage(), 0, 0);
        return 0;
    }
    fw::TApplication application;
    // Hidden before any form exists, so no taskbar button is ever seen.
    ShowWindow(application.Handle(), SW_HIDE);
    application.ProcessMessages();
    application.Title = "Tidemark";
    // The About box shown modally as a three-second splash; start-up waits here.
    desktop::ShowSplash();
    app::TrayController = application.CreateForm<app::TTrayController>();
    // Created once, hidden between uses.
    app::SetupDialog = application.CreateForm<app::TSetupDialog>();
    application.Run();
    // The application object frees the forms on the way out; the tray icon
    // leaves the notification area with them.
    return 0;
}
