#include "app/new_mail_notice.h"

#include <vector>

#include "app/mail_notice_text.h"
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

}  // namespace app
