#pragma once
// The application object: the hidden top-level window that stands for the
// program in the taskbar and owns its forms, the title, the main form, the
// message loop and the exception handler's message box.
#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/classes.h"
#include "framework/handles.h"

namespace fw {

class TForm;

class TApplication : public TComponent {
public:
    TApplication();
    ~TApplication() override;

    HWND Handle() const { return handle_.get(); }
    // Whether the caller runs on the thread that made the application: only
    // there may its loop, its modal count and its boxes be touched.
    bool OnOwnThread() const { return GetCurrentThreadId() == threadId_; }
    std::string Title = "";
    TForm* MainForm() const { return mainForm_; }
    bool Terminated() const { return terminated_; }

    // Creates a form owned by the application; the first one becomes the main form.
    template <typename T, typename... Args>
    T* CreateForm(Args&&... args) {
        T* form = new T(this, std::forward<Args>(args)...);
        if (!mainForm_) mainForm_ = form;
        return form;
    }
    void SetMainForm(TForm* form) { mainForm_ = form; }

    // Shows the main form (running its show handler) and dispatches messages
    // until the main form closes.
    void Run();
    // Dispatches every pending message of the thread, then returns.
    void ProcessMessages();
    // Dispatches one message, or waits for one when the queue is empty.
    void HandleMessage();
    // Ends the message loop.
    void Terminate();
    // Lets a loop run again after Terminate (tests run many loops in one process).
    void ClearTerminated() { terminated_ = false; }

    // The message box of an exception that reached a callback boundary:
    // owned by the application window, caption = Title, error icon.
    void HandleException(const std::exception& e);
    // Text shown for an exception: its message followed by ".".
    static std::string ExceptionText(const std::string& message);
    // Tests capture the box here instead of showing it.
    std::function<void(const std::string& text, const std::string& caption)> OnShowException;

    int ExceptionCount() const { return exceptionCount_; }

    // Modal windows of the program open right now: forms shown modally,
    // message boxes, and whatever stands in for a box (OnShowException).
    int ModalCount() const { return modalCount_; }
    void BeginModal() { ++modalCount_; }
    // When the last one closes, every form's AfterModal runs, from a posted
    // message: never inside the handlers of the window that just closed.
    void EndModal();
    // What that posted message does.
    void RunAfterModal();

    // Forms that exist right now (a freed form leaves this list).
    const std::vector<TForm*>& Forms() const { return forms_; }
    bool FormExists(const TForm* form) const;
    void RegisterForm(TForm* form);
    void UnregisterForm(TForm* form);

    void Notification(TComponent* component, TOperation operation) override;

private:
    bool processMessage(MSG& msg);
    UniqueWindow handle_;
    DWORD threadId_ = GetCurrentThreadId();
    TForm* mainForm_ = nullptr;
    bool terminated_ = false;
    int exceptionCount_ = 0;
    int modalCount_ = 0;
    std::vector<TForm*> forms_;
};

// Counts a modal loop of the program's own for as long as it lives.
class TModalScope {
public:
    TModalScope();
    ~TModalScope();
    TModalScope(const TModalScope&) = delete;
    TModalScope& operator=(const TModalScope&) = delete;
};

// The process-wide application object (created by the program entry or a test).
extern TApplication* Application;

// Dispatches every pending message of the calling thread. On a thread of its
// own (a mailbox's worker) a WM_QUIT is left for that thread's outer loop and
// never ends the application.
void DispatchPending();
// DispatchPending, unless the thread did so less than `intervalMs` ago. Reads
// that keep finding data ready call it instead: each dispatch of an empty
// queue is a wineserver round trip, yet timers, tray clicks and Cancel must
// still get through during a long transfer.
void DispatchPendingEvery(DWORD intervalMs = 50);
// Blocks until a message arrives, or `maxMs` passes. Waits call it only after
// a pass that made no progress: everything they test is set by a message (a
// Winsock notification, a dial event or the counter's tick).
void WaitForInput(DWORD maxMs = 1000);

}  // namespace fw
