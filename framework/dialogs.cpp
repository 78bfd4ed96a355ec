#include "framework/dialogs.h"

#include <windows.h>

#include "framework/application.h"

namespace fw {

namespace {
MessageDialogSeam& seam() {
    static MessageDialogSeam s;
    return s;
}
}  // namespace

void SetMessageDialogSeam(MessageDialogSeam s) { seam() = std::move(s); }

void ShowMessage(const std::string& text) { MessageDlg(text, TMsgDlgType::mtNone); }

void MessageDlg(const std::string& text, TMsgDlgType type) {
    TModalScope modal;
    if (seam()) {
        seam()(text, type);
        return;
    }
    UINT icon = type == TMsgDlgType::mtError         ? MB_ICONERROR
                : type == TMsgDlgType::mtInformation ? MB_ICONINFORMATION
                                                     : 0;
    std::string caption = Application ? Application->Title : "";
    // No owner: the box is centred on the screen.
    MessageBoxA(nullptr, text.c_str(), caption.c_str(), MB_OK | MB_TASKMODAL | MB_SETFOREGROUND | icon);
}

}  // namespace fw
