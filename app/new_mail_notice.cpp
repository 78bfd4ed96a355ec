#include "app/new_mail_notice.h"

#include <vector>

#include "app/mail_notice_text.h"
#include "app/settings.h"
#include "framework/registry.h"
#include "mail/charsets.h"
#include "mail/header_text.h"

namespace app {

std::size_t TNewMailAnnouncer::AfterCheck(const mail::TPop3Mailbox& mailbox, desktop::TTrayIcon& tray) {
    if (!mailbox.UniqueIdsKnown) return 0;
    const std::string& name = mailbox.CheckedMailbox;
    if (name != seenMailbox_) {
        seen_ = Store.Load(name);
        seenMailbox_ = name;
    }
    const mail::TNewMessages fresh = seen_.Update(mailbox.UniqueIds);
    if (Announce && !fresh.Indexes.empty()) {
        std::vector<TNoticeEntry> entries;
        for (auto it = fresh.Indexes.rbegin(); it != fresh.Indexes.rend(); ++it) {
            const auto& lines = mailbox.RemoteInfo.Items(static_cast<int>(*it)).Headers.Lines();
            entries.push_back({mail::DecodedSender(lines, mail::ConvertCharset),
                               mail::DecodedSubject(lines, mail::ConvertCharset)});
        }
        tray.ShowBalloon(NoticeTitle(entries.size()), NoticeText(entries));
    }
    if (fresh.Changed) Store.Save(name, seen_);
    return fresh.Indexes.size();
}

bool LoadAnnounceSetting() {
    fw::TRegistry reg;
    if (!reg.OpenKey(SettingsKey, false) || !reg.ValueExists("announce")) return true;
    return reg.ReadInteger("announce") != 0;
}

void SaveAnnounceSetting(bool announce) {
    fw::TRegistry reg;
    reg.OpenKey(SettingsKey, true);
    reg.WriteInteger("announce", announce ? 1 : 0);
}

}  // namespace app
