#include "app/new_mail_notice.h"

#include <utility>
#include <vector>

#include "app/mail_notice_text.h"
#include "desktop/new_mail_sound.h"
#include "mail/charsets.h"
#include "mail/header_text.h"

namespace app {

std::size_t TNewMailAnnouncer::AfterCheck(const mail::TPop3Mailbox& mailbox, desktop::TTrayIcon& tray) {
    Announced = 0;
    if (!tray.BalloonWaiting()) {
        unseen_.clear();
        unseenCount_ = 0;
    }
    if (!mailbox.UniqueIdsKnown) return 0;
    const std::string& name = mailbox.CheckedMailbox;
    if (name != seenMailbox_) {
        seen_ = Store.Load(name);
        seenMailbox_ = name;
        unsaved_ = false;
    }
    const mail::TNewMessages fresh = seen_.Update(mailbox.UniqueIds);
    if (Announce && !fresh.Indexes.empty()) {
        // Only the newest few are named: the rest are counted.
        std::vector<TNoticeEntry> named;
        for (auto it = fresh.Indexes.rbegin(); it != fresh.Indexes.rend() && named.size() < kNoticeLines; ++it) {
            const auto& lines = mailbox.RemoteInfo.Items(static_cast<int>(*it)).Headers.Lines();
            named.push_back(
                {mail::DecodedSender(lines, mail::ConvertCharset), mail::DecodedSubject(lines, mail::ConvertCharset)});
        }
        named.insert(named.end(), unseen_.begin(), unseen_.end());
        if (named.size() > kNoticeLines) named.resize(kNoticeLines);
        unseen_ = std::move(named);
        unseenCount_ += fresh.Indexes.size();
        const std::u16string title = NoticeTitle(unseenCount_);
        if (tray.ShowBalloon(MailboxName.empty() ? title : MailboxName + u": " + title,
                             NoticeText(unseen_, unseenCount_))) {
            Announced = fresh.Indexes.size();
            if (Sound) desktop::PlayNewMailSound();
        }
    }
    if (fresh.Changed || unsaved_) {
        unsaved_ = true;
        Store.Save(name, seen_);
        unsaved_ = false;
    }
    return fresh.Indexes.size();
}

}  // namespace app
