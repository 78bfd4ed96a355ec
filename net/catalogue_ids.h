#pragma once
// The error catalogue: every text the transport and the mail layer report by
// number, with the name the code gives it, in one list. The string table
// (resources/strings.rc) is made from this list and the code names the ids
// from it, so an id is declared once. No <windows.h> here: the failure rules
// build without it, and so does the resource compiler.
//
// Winsock's own codes keep their numbers (text N is "[N] " and Winsock's
// description); the transport's own messages start at 57000, the mail
// layer's at 57100. A "%s" in a text stands for one argument (fw::FormatStr).
#define TIDEMARK_CATALOGUE(X)                                                                                          \
    X(sWsaNoError, 10000, "[0] No Error")                                                                              \
    X(sWsaInterruptedFunctionCall, 10004, "[10004] Interrupted function call")                                         \
    X(sWsaBadFileNumber, 10009, "[10009] Bad file number")                                                             \
    X(sWsaPermissionDenied, 10013, "[10013] Permission denied.")                                                       \
    X(sWsaBadAddress, 10014, "[10014] Bad address")                                                                    \
    X(sWsaInvalidArgument, 10022, "[10022] Invalid argument")                                                          \
    X(sWsaTooManyOpenFiles, 10024, "[10024] Too many open files")                                                      \
    X(sWsaResourceTemporarilyNotAvailable, 10035, "[10035] Resource temporarily not available")                        \
    X(sWsaOperationNowInProgress, 10036, "[10036] Operation now in progress")                                          \
    X(sWsaOperationAlreadyInProgress, 10037, "[10037] Operation already in progress")                                  \
    X(sWsaSocketOperationOnNonSocket, 10038, "[10038] Socket operation on non-socket")                                 \
    X(sWsaDestinationAddressRequired, 10039, "[10039] Destination address required")                                   \
    X(sWsaMessageTooLong, 10040, "[10040] Message too long")                                                           \
    X(sWsaProtocolWrongTypeForSocket, 10041, "[10041] Protocol wrong type for socket")                                 \
    X(sWsaBadProtocolOption, 10042, "[10042] Bad protocol option")                                                     \
    X(sWsaProtocolNotSupported, 10043, "[10043] Protocol not supported")                                               \
    X(sWsaSocketTypeNotSupported, 10044, "[10044] Socket type not supported")                                          \
    X(sWsaOperationNotSupported, 10045, "[10045] Operation not supported")                                             \
    X(sWsaProtocolFamilyNotSupported, 10046, "[10046] Protocol family not supported")                                  \
    X(sWsaAddressFamilyNotSupportedByProtocolFamily, 10047, "[10047] Address family not supported by protocol family") \
    X(sWsaAddressAlreadyInUse, 10048, "[10048] Address already in use")                                                \
    X(sWsaCannotAssignRequestedAddress, 10049, "[10049] Cannot assign requested address")                              \
    X(sWsaNetworkIsDown, 10050, "[10050] Network is down")                                                             \
    X(sWsaNetworkIsUnreachable, 10051, "[10051] Network is unreachable")                                               \
    X(sWsaNetworkDroppedConnectionOrReset, 10052, "[10052] Network dropped connection or reset")                       \
    X(sWsaSoftwareCausedConnectionAbort, 10053, "[10053] Software caused connection abort")                            \
    X(sWsaConnectionResetByPeer, 10054, "[10054] Connection reset by peer")                                            \
    X(sWsaNoBufferSpaceAvailable, 10055, "[10055] No buffer space available")                                          \
    X(sWsaSocketIsAlreadyConnected, 10056, "[10056] Socket is already connected")                                      \
    X(sWsaSocketIsNotConnected, 10057, "[10057] Socket is not connected")                                              \
    X(sWsaCannotSendAfterSocketShutdown, 10058, "[10058] Can't send after socket shutdown")                            \
    X(sWsaTooManyReferences, 10059, "[10059] Too many references, can't splice")                                       \
    X(sWsaConnectionTimedOut, 10060, "[10060] Connection timed out")                                                   \
    X(sWsaConnectionRefused, 10061, "[10061] Connection refused")                                                      \
    X(sWsaTooManyLevelsOfSymbolicLinks, 10062, "[10062] Too many levels of symbolic links")                            \
    X(sWsaFileNameTooLong, 10063, "[10063] File name too long")                                                        \
    X(sWsaHostIsDown, 10064, "[10064] Host is down")                                                                   \
    X(sWsaNoRouteToHost, 10065, "[10065] No Route to Host")                                                            \
    X(sWsaDirectoryNotEmpty, 10066, "[10066] Directory not empty")                                                     \
    X(sWsaTooManyProcesses, 10067, "[10067] Too many processes")                                                       \
    X(sWsaTooManyUsers, 10068, "[10068] Too many users")                                                               \
    X(sWsaDiscQuotaExceeded, 10069, "[10069] Disc Quota Exceeded")                                                     \
    X(sWsaStaleNfsFileHandle, 10070, "[10070] Stale NFS file handle")                                                  \
    X(sWsaTooManyLevelsOfRemoteInPath, 10071, "[10071] Too many levels of remote in path")                             \
    X(sWsaNetworkSubsystemIsUnavailable, 10091, "[10091] Network subsystem is unavailable")                            \
    X(sWsaWinsockDllVersionOutOfRange, 10092, "[10092] WINSOCK DLL Version out of range")                              \
    X(sWsaSuccessfulStartupNotYetPerformed, 10093, "[10093] Successful WSAStartup() not yet performed")                \
    X(sWsaGracefulShutdownInProgress, 10094, "[10094] Graceful shutdown in progress")                                  \
    X(sWsaHostNotFound, 11001, "[11001] Host not found")                                                               \
    X(sWsaNonAuthoritativeHostNotFound, 11002, "[11002] Non-Authoritative Host not found")                             \
    X(sWsaNonRecoverableErrors, 11003, "[11003] Non-Recoverable errors: FORMERR, REFUSED, NOTIMP")                     \
    X(sWsaValidNameNoDataRecordOfRequestedType, 11004, "[11004] Valid name, no data record of requested type")         \
    X(sTimedOut, 57000, "Operation timed out")                                                                         \
    X(sCanceled, 57001, "Operation has been canceled")                                                                 \
    X(sServerRequired, 57002, "Server property is required")                                                           \
    X(sInvalidWinsockVersion, 57003, "Invalid Winsock version")                                                        \
    X(sResolveError, 57004, "Error resolving remote host")                                                             \
    X(sServiceRequired, 57005, "Service name is required")                                                             \
    X(sProxyPortRequired, 57006, "Proxy port is required")                                                             \
    X(sInvalidUrl, 57007, "Invalid URL")                                                                               \
    X(sNotConnected, 57008, "You have to connect to the server first")                                                 \
    X(sServerBusy, 57009, "Server is busy")                                                                            \
    X(sFunctionNotFound, 57010, "Function %s not found")                                                               \
    X(sWinsockNotLoaded, 57011, "Winsock is not loaded")                                                               \
    X(sWinsockNotFound, 57012, "Winsock not found")                                                                    \
    X(sInvalidQueryFormat, 57013, "Invalid query format.  @ symbol not present")                                       \
    X(sInvalidReply, 57014, "Server returned invalid reply")                                                           \
    X(sConnectionClosed, 57015, "Connection closed by the server")                                                     \
    X(sReplyTooLong, 57016, "Server reply is too long")                                                                \
    X(sTlsFailed, 57020, "The secure connection could not be set up: %s")                                              \
    X(sTlsClosedInHandshake, 57021, "The server closed the connection during the secure handshake")                    \
    X(sTlsNotTls, 57022, "The server does not speak TLS on this port")                                                 \
    X(sTlsNothingInCommon, 57023,                                                                                      \
      "The server accepts no TLS version or cipher that this system offers (TLS 1.2 or later)")                        \
    X(sTlsDecrypt, 57024, "Data from the server could not be decrypted: %s")                                           \
    X(sTlsPlainAfterGoAhead, 57025, "The server sent plain text after agreeing to STLS")                               \
    X(sTlsOldVersion, 57026, "The server accepts only TLS versions that are no longer safe (TLS 1.1 or older)")        \
    X(sTlsCertificateChanged, 57027, "The server's certificate changed during the connection")                         \
    X(sTlsWherePlainExpected, 57029, "The server answered with TLS: choose TLS in Setup")                              \
    X(sCertNotIssuedFor, 57030, "The server's certificate is not trusted: it is not issued for %s")                    \
    X(sCertUntrustedRoot, 57031, "The server's certificate is not trusted: it is not issued by a trusted authority")   \
    X(sCertExpired, 57032, "The server's certificate is not trusted: it has expired or is not valid yet")              \
    X(sCertRevoked, 57033, "The server's certificate is not trusted: it has been revoked")                             \
    X(sCertInvalid, 57034, "The server's certificate is not trusted: %s")                                              \
    X(sCertNoNames, 57035,                                                                                             \
      "The server's certificate is not trusted: it names no server (it has no subject alternative names)")             \
    X(sSignInUnreachable, 57040, "The sign-in provider cannot be reached: %s")                                         \
    X(sSignInRefused, 57041, "The sign-in provider refused: %s")                                                       \
    X(sSignInAgain, 57042, "The provider no longer accepts this mailbox's sign-in: sign in again in Setup")            \
    X(sSignInTimedOut, 57043, "No answer came from the browser in time: sign in again")                                \
    X(sSignInForeignAnswer, 57044, "The browser brought back an answer that does not belong to this sign-in")          \
    X(sSignInNotSecure, 57045, "The sign-in provider's address must begin with https://")                              \
    X(sSignInIncomplete, 57046, "The sign-in for this mailbox is not set up: sign in in Setup")                        \
    X(sSignInNoBrowser, 57047, "The browser could not be opened: %s")                                                  \
    X(sSignInNoClient, 57048,                                                                                          \
      "Signing in needs the provider's addresses and a client id: enter them in the mailbox's settings")               \
    X(sUserNameRequired, 57103, "UserName property is required")                                                       \
    X(sPasswordRequired, 57104, "Password property is required")                                                       \
    X(sStlsNotOffered, 57105, "The server does not offer STLS, so the password cannot be sent safely")                 \
    X(sStlsRefused, 57106, "The server refused STLS: %s")                                                              \
    X(sNoGreetingOnTlsPort, 57107, "The server sent no greeting; port 995 expects TLS: choose TLS in Setup")           \
    X(sTokenNeedsTls, 57108,                                                                                           \
      "The sign-in token is sent over a secure connection only: choose TLS or STARTTLS in Setup")                      \
    X(sXoauth2NotOffered, 57109, "The server does not offer sign-in with a token (XOAUTH2)")                           \
    X(sTokenRejected, 57110, "The server refused the sign-in token: %s")                                               \
    X(sImapBye, 57111, "The server ended the session: %s")                                                             \
    X(sImapNotImap, 57112, "The server sent a reply that is not IMAP: %s")                                             \
    X(sImapStartTlsNotOffered, 57113, "The server does not offer STARTTLS, so the password cannot be sent safely")     \
    X(sImapStartTlsRefused, 57114, "The server refused STARTTLS: %s")                                                  \
    X(sImapLoginDisabled, 57115, "The server accepts no log-in without TLS: choose TLS or STARTTLS in Setup")

#ifndef RC_INVOKED
#include <cstdint>

namespace net {

enum : std::uint16_t {
#define TIDEMARK_CATALOGUE_ID(name, id, text) name = id,
    TIDEMARK_CATALOGUE(TIDEMARK_CATALOGUE_ID)
#undef TIDEMARK_CATALOGUE_ID
    // No text of its own: the user said No to trusting the certificate, and
    // the message is the one the question already showed.
    sCertDeclined = 57039,
};

}  // namespace net
#endif
