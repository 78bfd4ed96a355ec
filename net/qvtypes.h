#pragma once
// What the transport and mail components share: their event types, their
// exception classes, the error catalogue in the string table, the seconds
// counter that bounds every network wait, and the message-dispatching wait.
#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "framework/classes.h"
#include "framework/sysutils.h"
#include "framework/timer.h"

namespace net {

// Msg is the text of the exception about to be raised; the handler may change it.
using TpxErrorEvent = std::function<void(fw::TObject* Sender, std::string& Msg)>;
// Perc is -1 when no expected size was given.
using TpxProgressEvent = std::function<void(fw::TObject* Sender, std::int32_t Perc, std::int32_t Transferred)>;
using TpxNumNotifyEvent = std::function<void(fw::TObject* Sender, std::int32_t Num)>;
// The handler takes over storing the message's raw text.
using TpxUserMsgSaveEvent =
    std::function<void(fw::TObject* Sender, std::int32_t Num, fw::TMemoryStream& Contents)>;

// Catalogue ids of the components' own messages (string table).
enum : std::uint16_t {
    sTimedOut = 57000,
    sCanceled = 57001,
    sServerRequired = 57002,
    sInvalidWinsockVersion = 57003,
    sResolveError = 57004,
    sServiceRequired = 57005,
    sNotConnected = 57008,
    sFunctionNotFound = 57010,
    sWinsockNotLoaded = 57011,
    sWinsockNotFound = 57012,
    sConnectionClosed = 57015,
    sReplyTooLong = 57016,
};

// The catalogue text for `id`, read from the program's string table.
// Returns false (and leaves `text` empty) when the table has no such string.
bool FindCatalogueText(unsigned id, std::string& text);
// The catalogue text, or "" when there is none.
std::string CatalogueText(unsigned id);

class ESocketError : public fw::Exception {
    using Exception::Exception;
};
class EServerError : public fw::Exception {
    using Exception::Exception;
};
class EWinsockDLLError : public fw::Exception {
    using Exception::Exception;
};
class ECanceledError : public fw::Exception {
public:
    ECanceledError();
};
class ETimedOutError : public fw::Exception {
public:
    ETimedOutError();
};
// Its message is the Remote Access library's own text for the code, or
// "RAS error no " and the code when the library cannot tell.
class ERASError : public fw::Exception {
public:
    explicit ERASError(std::uint32_t code);
};
std::string RASErrorText(std::uint32_t code);

// Seconds counter on a one-second window timer. It advances only while the
// GUI thread dispatches messages, which every wait of the transport does.
class TTimeCounter : public fw::TObject {
public:
    TTimeCounter();
    ~TTimeCounter() override;

    std::unique_ptr<fw::TTimer> Timer;
    std::int32_t Remaining = 0;
    std::int32_t TimeOut = 60;
    bool Expired = false;

    // Reloads Remaining. A running timer keeps its current period; Expired
    // stays as it is until the owner clears it.
    void Start();
    void Stop();
    // Ends a wait like Stop, but leaves the window timer set: SetTimer and
    // KillTimer are each a wineserver round trip under Wine, and a mailbox
    // check runs thousands of short waits back to back. A Start that follows
    // counts its first second afresh, as after Stop; a tick that finds the
    // counter paused stops the timer, so an idle counter ticks at most once.
    void Pause();
    bool Paused() const { return paused_; }
    void Tick(fw::TObject* Sender);

private:
    bool paused_ = false;
    // Set by a Start that resumed a paused counter: the timer's period began
    // before that Start, so a tick less than a second after it is not counted.
    bool resumed_ = false;
    ULONGLONG resumedAt_ = 0;
};

// Dispatches every pending message of the thread.
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

}  // namespace net
