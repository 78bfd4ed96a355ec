#include "app/new_mail_notice.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "app/mail_notice_text.h"
#include "desktop/new_mail_sound.h"
#include "mail/charsets.h"
#include "mail/header_text.h"

namespace app {

void TNewMailAnnouncer::begin(desktop::TTrayIcon& tray) {
    Announced = 0;
    if (!tray.BalloonWaiting()) {
        unseen_.clear();
        unseenCount_ = 0;
    }
}

void TNewMailAnnouncer::announce(std::vector<TNoticeEntry> fresh, std::size_t count, desktop::TTrayIcon& tray) {
    if (!Announce || count == 0) return;
    fresh.insert(fresh.end(), unseen_.begin(), unseen_.end());
    if (fresh.size() > kNoticeLines) fresh.resize(kNoticeLines);
    unseen_ = std::move(fresh);
    unseenCount_ += count;
    const std::u16string title = NoticeTitle(unseenCount_);
    if (tray.ShowBalloon(MailboxName.empty() ? title : MailboxName + u": " + title,
                         NoticeText(unseen_, unseenCount_))) {
        Announced = count;
        if (Sound) desktop::PlayNewMailSound();
    }
}

namespace {
TNoticeEntry entryOf(const mail::TMessageInfo& item) {
    const auto lines = item.Headers.Lines();
    return {mail::DecodedSender(lines, mail::ConvertCharset), mail::DecodedSubject(lines, mail::ConvertCharset)};
}
}  // namespace

std::size_t TNewMailAnnouncer::AfterCheck(const mail::TPop3Mailbox& mailbox, desktop::TTrayIcon& tray) {
    begin(tray);
    if (!mailbox.UniqueIdsKnown) return 0;
    const std::string& name = mailbox.CheckedMailbox;
    if (name != seenMailbox_) {
        seen_ = Store.Load(name);
        seenMailbox_ = name;
        unsaved_ = false;
    }
    const mail::TNewMessages fresh = seen_.Update(mailbox.UniqueIds);
    // Only the newest few are named: the rest are counted.
    std::vector<TNoticeEntry> named;
    for (auto it = fresh.Indexes.rbegin(); it != fresh.Indexes.rend() && named.size() < kNoticeLines; ++it)
        named.push_back(entryOf(mailbox.RemoteInfo.Items(static_cast<int>(*it))));
    announce(std::move(named), fresh.Indexes.size(), tray);
    if (fresh.Changed || unsaved_) {
        unsaved_ = true;
        Store.Save(name, seen_);
        unsaved_ = false;
    }
    return fresh.Indexes.size();
}

const mail::TUidMark& TNewMailAnnouncer::MarkOf(const std::string& mailbox) {
    if (mailbox != markMailbox_) {
        mark_ = Store.LoadMark(mailbox);
        markMailbox_ = mailbox;
        unsaved_ = false;
    }
    return mark_;
}

std::size_t TNewMailAnnouncer::AfterCheck(const TImapResult& mailbox, desktop::TTrayIcon& tray) {
    begin(tray);
    const mail::TUidMark before = MarkOf(mailbox.CheckedMailbox);
    std::vector<TNoticeEntry> named;
    for (auto it = mailbox.NewMessages.rbegin(); it != mailbox.NewMessages.rend() && named.size() < kNoticeLines; ++it)
        named.push_back(entryOf(it->Info));
    // Messages the mark already covers were announced before (a check given
    // an older mark by a request that overtook a pushed one).
    const std::size_t count = before.Known && before.UidValidity == mailbox.Mark.UidValidity
                                  ? static_cast<std::size_t>(std::count_if(
                                        mailbox.NewMessages.begin(), mailbox.NewMessages.end(),
                                        [&](const mail::TImapMessage& m) { return m.Uid > before.HighestUid; }))
                                  : mailbox.NewMessages.size();
    if (count < named.size()) named.resize(count);
    announce(std::move(named), count, tray);
    if (!(mailbox.Mark == before) || unsaved_) {
        mark_ = mailbox.Mark;
        unsaved_ = true;
        Store.SaveMark(mailbox.CheckedMailbox, mark_);
        unsaved_ = false;
    }
    return count;
}

}  // namespace app
