#pragma once
// A POP3 component that records its events in order, and the helpers the
// transcript tests share.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "mail/pop3_session.h"
#include "tests/support/raised.h"
#include "tests/support/wine_helpers.h"

namespace mailtest {

using Events = std::vector<std::string>;

class ProbePOP : public mail::TPop3Mailbox {
public:
    explicit ProbePOP(const std::string& server, const std::string& user = "alice",
                      const std::string& password = "secret")
        : mail::TPop3Mailbox(nullptr) {
        SetWinsockLoaded(true);
        SetTimeOut(2);
        Server = server;
        UserName = user;
        Password = password;
        OnOpen = [this](fw::TObject*) { events.push_back("open"); };
        OnClosing = [this](fw::TObject*) { events.push_back("closing"); };
        OnClosed = [this](fw::TObject*) { events.push_back("closed"); };
        OnError = [this](fw::TObject*, std::string& msg) { events.push_back("error:" + msg); };
        OnUpdatingInfo = [this](fw::TObject*) { events.push_back("updating"); };
        OnInfoUpdated = [this](fw::TObject*) { events.push_back("updated"); };
        OnNextInfoUpdated = [this](fw::TObject*, std::int32_t num) { events.push_back("next:" + std::to_string(num)); };
        // Several progress reports per TOP reply are one entry: how many
        // there are depends on how the bytes arrive.
        OnProgress = [this](fw::TObject*, std::int32_t perc, std::int32_t) {
            const std::string e = "progress:" + std::to_string(perc);
            if (events.empty() || events.back() != e) events.push_back(e);
        };
    }

    std::vector<std::string> headers(int index) const { return RemoteInfo.Items(index).Headers.Lines(); }

    Events events;
};

using testsupport::PumpUntil;
using testsupport::MessageOf;

}  // namespace mailtest
