// Program entry: no taskbar button, the splash, the controller form, the
// Setup dialog, then the message loop until "&Close".
#include <windows.h>

#include "app/setup_dialog.h"
#include "app/tray_controller.h"
#include "desktop/about_box.h"
#include "framework/application.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
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
