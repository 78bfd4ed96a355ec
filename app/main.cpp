// Program entry: no taskbar button, the splash, the controller form, the
// Setup dialog, then the message loop until "&Close".
#include <windows.h>

#include "app/MainWin.h"
#include "app/setup.h"
#include "desktop/Unit1.h"
#include "framework/application.h"


int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    fw::TApplication app;
    // Hidden before any form exists, so no taskbar button is ever seen.
    ShowWindow(app.Handle(), SW_HIDE);
    app.ProcessMessages();
    app.Title = "Tidemark";
    // The About box shown modally as a three-second splash; start-up waits here.
    ShowSplash();
    MainForm = app.CreateForm<TMainForm>();
    // Created once, hidden between uses.
    SetupDlg = app.CreateForm<TSetupDlg>();
    app.Run();
    // The application object frees the forms on the way out; the tray icon
    // leaves the notification area with them.
    return 0;
}
