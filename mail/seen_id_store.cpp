#include "mail/seen_id_store.h"

#include <windows.h>
#include <shlobj.h>

#include <cstdint>
#include <cstdio>

#include "framework/files.h"
#include "framework/handles.h"
#include "framework/sysutils.h"
#include "framework/system_error.h"

namespace mail {

namespace {

// FNV-1a, 64 bits: a stable file name for any server and user name.
std::string hashName(const std::string& text) {
    std::uint64_t h = 14695981039346656037ull;
    for (unsigned char c : text) h = (h ^ c) * 1099511628211ull;
    char out[17];
    std::snprintf(out, sizeof out, "%016llx", static_cast<unsigned long long>(h));
    return out;
}

}  // namespace

TSeenIdStore::TSeenIdStore() {
    char path[MAX_PATH] = {};
    if (SUCCEEDED(SHGetFolderPathA(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path)) && path[0])
        Folder = std::string(path) + "\\Brindlewick Software\\Tidemark";
}

std::string TSeenIdStore::FileFor(const std::string& mailbox) const {
    return Folder + "\\seen-" + hashName(mailbox) + ".txt";
}

TSeenIds TSeenIdStore::Load(const std::string& mailbox) const {
    TSeenIds ids;
    std::string text;
    if (!Folder.empty() && fw::ReadWholeFile(FileFor(mailbox), text, kMaxFileSize)) ids.FromText(text, mailbox);
    return ids;
}

TUidMark TSeenIdStore::LoadMark(const std::string& mailbox) const {
    TUidMark mark;
    std::string text;
    if (!Folder.empty() && fw::ReadWholeFile(FileFor(mailbox), text, 4096)) mark.FromText(text, mailbox);
    return mark;
}

void TSeenIdStore::Save(const std::string& mailbox, const TSeenIds& ids) const {
    saveText(mailbox, ids.ToText(mailbox));
}

void TSeenIdStore::SaveMark(const std::string& mailbox, const TUidMark& mark) const {
    saveText(mailbox, mark.ToText(mailbox));
}

void TSeenIdStore::saveText(const std::string& mailbox, const std::string& text) const {
    const std::string path = FileFor(mailbox);
    const std::string fresh = path + ".new";
    DWORD error = Folder.empty() ? ERROR_PATH_NOT_FOUND : 0;
    if (!error) {
        // Each level in turn; one that exists already is fine.
        for (std::size_t at = Folder.find('\\', 3);; at = Folder.find('\\', at + 1)) {
            CreateDirectoryA(Folder.substr(0, at).c_str(), nullptr);
            if (at == std::string::npos) break;
        }
        fw::UniqueFile file(
            CreateFileA(fresh.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        if (!file)
            error = GetLastError();
        else if (!WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
                 written != text.size())
            error = GetLastError() ? GetLastError() : ERROR_WRITE_FAULT;
    }
    if (!error && !MoveFileExA(fresh.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        error = GetLastError();
    if (error) {
        DeleteFileA(fresh.c_str());
        throw fw::Exception("Cannot save the list of seen messages in \"" + path + "\". " + fw::SystemErrorText(error));
    }
}

}  // namespace mail
