#pragma once
// The Remote Access structures and entry points the dial-up component uses,
// in their first (Windows 95 / NT 4) layout: the size field tells the library
// which layout the caller speaks, and every version accepts this one. The
// system's <ras.h> packs them to 4 bytes; unpacked, the handle in RASCONNA
// would move to offset 8 on x86_64 and RasEnumConnectionsA would refuse the
// record's size (tests/net/test_dial_up.cpp checks the sizes the library sees).
#include <windows.h>

#include <cstdint>

namespace net::ras {

using HRASCONN = HANDLE;

constexpr std::size_t RAS_MaxEntryName = 256;
constexpr std::size_t RAS_MaxDeviceType = 16;
constexpr std::size_t RAS_MaxDeviceName = 128;
constexpr std::size_t RAS_MaxPhoneNumber = 128;
constexpr std::size_t RAS_MaxCallbackNumber = 128;
constexpr std::size_t UNLEN = 256;
constexpr std::size_t PWLEN = 256;
constexpr std::size_t DNLEN = 15;
constexpr std::size_t RAS_MaxIpAddress = 15;

// Connection states of a dial (RASCONNSTATE).
constexpr DWORD RASCS_OpenPort = 0;
constexpr DWORD RASCS_ConnectDevice = 2;
constexpr DWORD RASCS_DeviceConnected = 3;
constexpr DWORD RASCS_AllDevicesConnected = 4;
constexpr DWORD RASCS_Authenticate = 5;
constexpr DWORD RASCS_Authenticated = 14;
constexpr DWORD RASCS_StartAuthentication = 19;
constexpr DWORD RASCS_LogonNetwork = 21;
constexpr DWORD RASCS_Connected = 0x2000;

// Texts in rasapi32.dll's own string table that tell those states.
constexpr UINT IDS_OpeningPort = 120;
constexpr UINT IDS_ConnectingDevice = 122;
constexpr UINT IDS_Authenticating = 124;
constexpr UINT IDS_LoggingOnNetwork = 128;
constexpr UINT IDS_Connected = 129;
constexpr UINT IDS_Authenticated = 131;
constexpr DWORD RASP_PppIp = 0x8021;
// RasDialA's notifier is a window: states arrive as "RASDIALEVENT" messages.
constexpr DWORD NotifierWindow = 0xFFFFFFFF;

#pragma pack(push, 4)

struct RASENTRYNAMEA {
    DWORD dwSize;
    char szEntryName[RAS_MaxEntryName + 1];
};

struct RASCONNA {
    DWORD dwSize;
    HRASCONN hrasconn;
    char szEntryName[RAS_MaxEntryName + 1];
    char szDeviceType[RAS_MaxDeviceType + 1];
    char szDeviceName[RAS_MaxDeviceName + 1];
};

struct RASDIALPARAMSA {
    DWORD dwSize;
    char szEntryName[RAS_MaxEntryName + 1];
    char szPhoneNumber[RAS_MaxPhoneNumber + 1];
    char szCallbackNumber[RAS_MaxCallbackNumber + 1];
    char szUserName[UNLEN + 1];
    char szPassword[PWLEN + 1];
    char szDomain[DNLEN + 1];
};

struct RASPPPIPA {
    DWORD dwSize;
    DWORD dwError;
    char szIpAddress[RAS_MaxIpAddress + 1];
};

#pragma pack(pop)

static_assert(sizeof(RASENTRYNAMEA) == 264);
static_assert(sizeof(RASCONNA) == (sizeof(void*) == 8 ? 416 : 412));
static_assert(sizeof(RASDIALPARAMSA) == 1052);
static_assert(sizeof(RASPPPIPA) == 24);

using PFN_RasEnumEntriesA = DWORD(WINAPI*)(LPCSTR reserved, LPCSTR phonebook, RASENTRYNAMEA* entries, LPDWORD cb,
                                           LPDWORD count);
using PFN_RasEnumConnectionsA = DWORD(WINAPI*)(RASCONNA* conns, LPDWORD cb, LPDWORD count);
using PFN_RasGetProjectionInfoA = DWORD(WINAPI*)(HRASCONN conn, DWORD projection, LPVOID info, LPDWORD cb);
using PFN_RasGetEntryDialParamsA = DWORD(WINAPI*)(LPCSTR phonebook, RASDIALPARAMSA* params, LPBOOL password);
using PFN_RasSetEntryDialParamsA = DWORD(WINAPI*)(LPCSTR phonebook, RASDIALPARAMSA* params, BOOL removePassword);
using PFN_RasDialA = DWORD(WINAPI*)(LPVOID extensions, LPCSTR phonebook, RASDIALPARAMSA* params, DWORD notifierType,
                                    LPVOID notifier, HRASCONN* conn);
using PFN_RasHangUpA = DWORD(WINAPI*)(HRASCONN conn);

}  // namespace net::ras
