#pragma once
// A DDE client conversation over the DDE management library (DDEML): opens
// a conversation with a service and topic, requests items synchronously and
// closes again.
#include <windows.h>
#include <ddeml.h>

#include <string>

#include "framework/classes.h"
#include "framework/handles.h"

namespace fw {

// The program's one DDEML instance, made on first use and ended at exit.
DWORD DdeInstance();

namespace detail {
inline void freeDdeString(HSZ s) { DdeFreeStringHandle(DdeInstance(), s); }
}  // namespace detail
using UniqueDdeString = UniqueHandle<HSZ, &detail::freeDdeString>;
using UniqueConversation = UniqueHandle<HCONV, &::DdeDisconnect>;
using UniqueDdeData = UniqueHandle<HDDEDATA, &::DdeFreeDataHandle>;

class TDdeClientConv : public TComponent {
public:
    explicit TDdeClientConv(TComponent* owner);
    ~TDdeClientConv() override;

    // The command line run when a conversation cannot be opened (the server
    // program that would offer the service).
    std::string ServiceApplication;

    // Closes any open conversation, then connects to Service / Topic; when no
    // server answers, starts ServiceApplication (or "Service Topic" when it is
    // empty) and tries once more. False when no conversation came about.
    bool OpenConversation(const std::string& service, const std::string& topic);
    // One synchronous request (10000 ms at most) in the conversation's data
    // format. Returns the reply's text, or an empty text when there is no
    // conversation, no reply or an empty one.
    std::string RequestItem(const std::string& item);
    void CloseConversation();

    bool Connected() const { return conv_.valid(); }

    static constexpr DWORD RequestTimeoutMs = 10000;

private:
    HCONV connect();
    // Declared before the conversation: it goes first.
    UniqueDdeString hszService_;
    UniqueDdeString hszTopic_;
    UniqueConversation conv_;
    UINT format_ = CF_TEXT;
};

}  // namespace fw
