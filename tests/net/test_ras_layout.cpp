// The dial-up records against the system's own <ras.h>, at compile time and
// on both targets: every field at the system's offset with the system's
// size, and each record as long as the system's first layout (its fields up
// to the first later addition, padded to the record's alignment).
#include "net/ras_api.h"

// Named before <ras.h>, whose record names are macros.
using OurEntryName = net::ras::RASENTRYNAMEA;
using OurConn = net::ras::RASCONNA;
using OurDialParams = net::ras::RASDIALPARAMSA;
using OurPppIp = net::ras::RASPPPIPA;

#include <ras.h>

#include <cstddef>

namespace {
template <typename Theirs>
constexpr std::size_t firstLayout(std::size_t end) {
    return (end + alignof(Theirs) - 1) / alignof(Theirs) * alignof(Theirs);
}
}  // namespace

#define SAME_FIELD(ours, theirs, field)                                                              \
    static_assert(offsetof(ours, field) == offsetof(theirs, field) && sizeof(ours::field) == sizeof(theirs::field), \
                  #theirs "." #field)

SAME_FIELD(OurEntryName, tagRASENTRYNAMEA, szEntryName);
static_assert(sizeof(OurEntryName) == firstLayout<tagRASENTRYNAMEA>(offsetof(tagRASENTRYNAMEA, dwFlags)));

SAME_FIELD(OurConn, tagRASCONNA, hrasconn);
SAME_FIELD(OurConn, tagRASCONNA, szEntryName);
SAME_FIELD(OurConn, tagRASCONNA, szDeviceType);
SAME_FIELD(OurConn, tagRASCONNA, szDeviceName);
static_assert(sizeof(OurConn) == firstLayout<tagRASCONNA>(offsetof(tagRASCONNA, szPhonebook)));

SAME_FIELD(OurDialParams, tagRASDIALPARAMSA, szEntryName);
SAME_FIELD(OurDialParams, tagRASDIALPARAMSA, szPhoneNumber);
SAME_FIELD(OurDialParams, tagRASDIALPARAMSA, szCallbackNumber);
SAME_FIELD(OurDialParams, tagRASDIALPARAMSA, szUserName);
SAME_FIELD(OurDialParams, tagRASDIALPARAMSA, szPassword);
SAME_FIELD(OurDialParams, tagRASDIALPARAMSA, szDomain);
static_assert(sizeof(OurDialParams) == firstLayout<tagRASDIALPARAMSA>(offsetof(tagRASDIALPARAMSA, dwSubEntry)));

SAME_FIELD(OurPppIp, tagRASPPPIPA, dwError);
SAME_FIELD(OurPppIp, tagRASPPPIPA, szIpAddress);
static_assert(sizeof(OurPppIp) == firstLayout<tagRASPPPIPA>(offsetof(tagRASPPPIPA, szServerIpAddress)));
