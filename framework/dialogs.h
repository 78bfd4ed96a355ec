#pragma once
// The modal message dialog: a text, one OK button, centred on the screen.
#include <functional>
#include <string>

namespace fw {

enum class TMsgDlgType { mtInformation, mtError, mtNone };

void ShowMessage(const std::string& text);
void MessageDlg(const std::string& text, TMsgDlgType type);

// Tests capture the dialogs here instead of showing them.
using MessageDialogSeam = std::function<void(const std::string& text, TMsgDlgType type)>;
void SetMessageDialogSeam(MessageDialogSeam seam);

}  // namespace fw
