// The POP3 text rules, one table each, and popcheck against scripted
// servers and the real Dovecot that requires TLS (tests/app/test_e2e.cpp
// meets the plain one).
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include <fstream>
#include <iterator>

#include "framework/handles.h"
#include "framework/security_handles.h"
#include "gtest/gtest.h"
#include "mail/imap_session.h"
#include "mail/pop3_session.h"
#include "mail/pop3_text.h"
#include "tests/support/dovecot.h"
#include "tests/support/helpers.h"
#include "tests/support/scripted_server.h"

using namespace mail;
using testsupport::MessageOf;

namespace {
std::string joined(const THeaderLines& lines) {
    std::string out;
    for (const std::string& line : lines.Lines()) out += line + "|";
    return out;
}
}  // namespace

TEST(Pop3Text, StatSetsTheCountBeforeTheSizeIsConvertedAndListTakesAllAfterTheFirstBlank) {
    const char* stat[][2] = {{"+OK 2 320", "2 320 ''"}, {"+OK 3 4500 octets", "3 4500 'octets'"}, {"+OK 5", "-1 -1 '5'"}, {"+OK", "-1 -1 ''"}, {"+OK 2 abc", "2 -1 'abc' is not a valid integer value"}, {"+OK x 12", "-1 -1 'x' is not a valid integer value"}};
    for (auto [reply, expected] : stat) {
        std::int32_t count = -1, size = -1;
        std::string rest = reply;
        const std::string error = MessageOf([&] { ParseStatReply(rest, count, size); });
        EXPECT_EQ(std::to_string(count) + " " + std::to_string(size) + " " + (error[0] == '<' ? "'" + rest + "'" : error),
                  expected);
    }
    const std::pair<const char*, std::int32_t> list[] = {{"+OK 1 120", 120}, {"+OK 120", 120}, {"+OK 1 120 octets", 0}, {"+OK 1 abc", 0}, {"+OK 1 ", 0}, {"+OK", 0}, {"", 0}, {"+OK 7 99999999999", 0}};
    for (auto [reply, size] : list) EXPECT_EQ(ParseListSize(reply), size) << reply;
}

TEST(Pop3Text, HeaderLinesEndAtEveryLineEndAndTheBodyGoesFromTheFirstEmptyLine) {
    const struct {
        std::string text;
        const char *lines, *headers, *kept;  // the last: with the Subject and To fields only
    } table[] = {
        {std::string("Subject: a\r\nFrom: b\rTo: c\n\tfolded\r\n\r\nbody\r\n.\r\n\0junk", 48),
         "Subject: a|From: b|To: c|\tfolded||body|.|", "Subject: a|From: b|To: c|\tfolded|", "Subject: a|To: c|\tfolded|"},
        {"Subject: x\r\nsubject: y\r\n.\r\n", "Subject: x|subject: y|.|", "Subject: x|subject: y|.|", "Subject: x|"},
        {"Subject: x\r\n \r\nbody\r\n", "Subject: x| |body|", "Subject: x| |body|", "Subject: x| |"},
        {"\r\nbody only\r\n.\r\n", "|body only|.|", "", ""},
    };
    for (const auto& t : table) {
        fw::TMemoryStream stream;
        stream.Write(t.text.data(), t.text.size());
        stream.Position = 0;
        THeaderLines headers;
        headers.Add("left from before");
        headers.LoadFromStream(stream);
        EXPECT_EQ(joined(headers), t.lines);
        headers.RemoveBody();
        EXPECT_EQ(joined(headers), t.headers);
        headers.KeepFields({"subject", "To"});
        EXPECT_EQ(joined(headers), t.kept);
    }
    TMailboxInfo info;
    info.Add(std::make_unique<TMessageInfo>());
    for (int index : {-1, 1}) EXPECT_EQ(MessageOf([&] { info.Items(index); }), "List index out of bounds");
}

// ---- popcheck ----

// Runs `command` to its end (10 s at most) with `input` on its standard
// input; gives its exit code, and its standard output and error in `out`
// and `err`.
static DWORD run(std::string command, const std::string& input, std::string& out, std::string& err) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE ends[6] = {};  // read and write ends of stdin, stdout, stderr
    for (int i = 0; i < 3; ++i) CreatePipe(&ends[2 * i], &ends[2 * i + 1], &inherit, 1 << 16);
    std::vector<fw::UniqueKernelHandle> held(std::begin(ends), std::end(ends));
    for (HANDLE mine : {ends[1], ends[2], ends[4]}) SetHandleInformation(mine, HANDLE_FLAG_INHERIT, 0);
    DWORD n = 0;
    WriteFile(ends[1], input.data(), static_cast<DWORD>(input.size()), &n, nullptr);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = ends[0], si.hStdOutput = ends[3], si.hStdError = ends[5];
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) return 999;
    fw::UniqueKernelHandle process(pi.hProcess), thread(pi.hThread);
    for (int i : {1, 0, 3, 5}) held[i].reset();
    if (WaitForSingleObject(pi.hProcess, 10000) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 99);
    char chunk[4096];
    for (auto [from, to] : {std::pair{ends[2], &out}, {ends[4], &err}})
        while (ReadFile(from, chunk, sizeof chunk, &n, nullptr) && n > 0) to->append(chunk, n);
    DWORD code = 998;
    GetExitCodeProcess(pi.hProcess, &code);
    return code;
}

// popcheck runs one check with the mailbox component. Its exit code tells a
// failure that passes by itself (75) from one the user must mend (1) and
// from wrong usage (2); --timeout bounds each wait. Against the Dovecot that
// requires TLS, with its test CA trusted for the run (--ca), a certificate
// for another name or from another CA ends the check before the log-in, as
// does a server that hangs up during the handshake (a failure that passes).
TEST(Popcheck, ExitCodesMessagesAndSecureConnections) {
    namespace dovecot = testsupport::dovecot;
    const std::string plain = dovecot::FirstLine("port", true), tls = dovecot::FirstLine("tls_port", true);
    ASSERT_NE(tls, "") << "no TLS Dovecot: run through ctest (its dovecot_tls fixture)";
    const std::string ca = " --ca " + dovecot::Folder(true) + "\\tls\\ca.pem ";
    // A reply of many TLS records: 72 KB of a folded header before the Subject.
    std::string filler = "X-Filler: start\r\n";
    for (int i = 0; i < 2000; ++i) filler += "\tthirty-six bytes of a folded line\r\n";
    ASSERT_TRUE(dovecot::Deliver("alice", filler + "Subject: after the filler\r\n\r\nbody\r\n", true));
    // The password from a file (its first line), or from standard input.
    char passwordFile[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, passwordFile), std::strcat(passwordFile, "popcheck-password.txt");
    std::FILE* f = std::fopen(passwordFile, "wb");
    ASSERT_TRUE(f && std::fputs("secret\r\nnot this line\r\n", f) >= 0 && std::fclose(f) == 0);
    const std::string login = "S +OK\nC CAPA\nS -ERR\nC USER anna\nS +OK\nC PASS pw from stdin\nS +OK\nC STAT\nS +OK 1 120\n";
    const struct {
        std::string args;
        std::string script;
        DWORD code;
        const char* output;
        const char* input = "";
    } table[] = {
        {"--timeout 1 {server} anna pw", "", 75, "popcheck: Operation timed out"},
        {"{server} anna pw", "S +OK\nC CAPA\nS -ERR\nC USER anna\nS -ERR [IN-USE] locked", 75, "popcheck: -ERR [IN-USE] locked"},
        {"{server} anna pw", "s +OK hel\nX", 75, "popcheck: Connection closed by the server"},
        {"--tls {server} anna pw", "T\nX", 75, "popcheck: The server closed the connection during the secure handshake"},
        {"{server} anna pw", "s \\x16\\x03\\x01\\x00\\x05hello\nH", 1, "popcheck: The server answered with TLS: choose TLS in Setup\r\n"},
        // Usage: --help and --version on standard output, each wrong use told on standard error.
        {"--help", "", 0, "usage: popcheck"},
        {"--version", "", 0, "popcheck " TIDEMARK_VERSION "\r\n"},
        {"--timeout 0 {server} anna pw", "", 2, "popcheck: --timeout needs a whole number of seconds from 1 to 3600, not '0'\r\n"},
        {"--timeout abc {server} anna pw", "", 2, "not 'abc'"},
        {"--tls --starttls {server} anna pw", "", 2, "popcheck: --tls and --starttls cannot be given together\r\n"},
        {"{server} anna", "", 2, "popcheck: PASSWORD is missing (or give --password-file)\r\n"},
        {"--ca", "", 2, "popcheck: --ca needs a value\r\n"},
        {"--idle 5 {server} anna pw", "", 2, "popcheck: --idle needs --imap\r\n"},
        {"--imap {server} anna pw",
         "S * OK [CAPABILITY IMAP4rev1] hi\nC a1 LOGIN \"anna\" \"pw\"\nS a1 OK\nC a2 EXAMINE INBOX\nS * 1 EXISTS\nS a2 OK\nC a3 UID FETCH * (UID)\nS * 1 FETCH (UID 9)\nS a3 OK\n"
         "C a4 UID SEARCH UNSEEN\nS * SEARCH 9\nS a4 OK\nC a5 UID FETCH 9 (UID FLAGS BODY.PEEK[HEADER.FIELDS (FROM SUBJECT DATE)])\nS * 1 FETCH (UID 9 BODY[HEADER.FIELDS (FROM SUBJECT DATE)] {12}\nS Subject: s\nS )\nS a5 OK\nC a6 LOGOUT\nS a6 OK",
         0, "Messages: 1\r\nUnread: 1\r\n9\ts\t\t\r\n"},
        // One line per message, its fields decoded and unfolded as in the notice, no tab or control inside one.
        {"--password-file - {server} anna", login + "C LIST 1\nS +OK 1 120\nC TOP 1 1\nS +OK\nS Subject: =?utf-8?q?caf=C3=A9?=\nS \\tau\\tlait\x01\n"
                                                    "S From: =?utf-8?b?SsO2bnM=?= <j@example.org>\nS \nS .\nC QUIT\nS +OK",
         0, "\r\n1\t120\tcaf\xC3\xA9 au lait \tJ\xC3\xB6ns <j@example.org>\r\n", "pw from stdin\r\n"},
        {"--tls" + ca + "--password-file " + passwordFile + " localhost:" + tls + " alice", "", 0, "\tafter the filler\t"},
        {"--starttls" + ca + "localhost:" + plain + " alice secret", "", 0, "Secure connection: TLS"},
        {"--tls" + ca + "127.0.0.2:" + tls + " alice secret", "", 1, "not trusted: it is not issued by a trusted authority"},
        // A token: never over plain text; Dovecot asks the test provider about it, which does not know it.
        {"--token-file - {server} anna", "", 2, "popcheck: a token is sent over a secure connection only: give --tls or --starttls\r\n", "tok\r\n"},
        {"--tls" + ca + "--token-file - localhost:" + tls + " anna", "", 1, "popcheck: The server refused the sign-in token: -ERR [AUTH] Authentication failed. (status 401)\r\n", "not-a-token\r\n"},
    };
    // The certificate check: the name by the subject alternative names
    // alone, and the CA's revocation list (beside the server's certificate).
    const std::pair<const char*, const char*> checks[] = {
        {"wild example.org", "it is not issued for example.org (may trust once)"}, {"ip 127.0.0.1", ""}, {"server LOCALHOST.", ""}, {"dnsip 127.0.0.1", "it is not issued for 127.0.0.1 (may trust once)"}, {"revoked localhost", "it has been revoked"}, {"nosan localhost", "it names no server (it has no subject alternative names) (may trust once)"}};
    auto read = [](const std::string& name) { std::ifstream in(dovecot::Folder(true) + "\\tls\\" + name, std::ios::binary); return std::string(std::istreambuf_iterator<char>(in), {}); };
    const std::string crl = read("ca.crl");
    for (auto [check, message] : checks) {
        const std::string file = std::string(check).substr(0, std::strchr(check, ' ') - check), der = net::CertificateDer(read(file + ".pem"));
        fw::UniqueCertStore store(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr));
        PCCERT_CONTEXT cert = nullptr;
        CertAddEncodedCertificateToStore(store.get(), X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()), static_cast<DWORD>(der.size()), CERT_STORE_ADD_ALWAYS, &cert);
        CertAddEncodedCRLToStore(store.get(), X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(crl.data()), static_cast<DWORD>(crl.size()), CERT_STORE_ADD_ALWAYS, nullptr);
        const net::TCertificateVerdict v = net::CheckServerCertificate(fw::UniqueCertificate(cert).get(), std::strchr(check, ' ') + 1, net::CertificateDer(read("ca.pem")));
        EXPECT_EQ(v.Message + (v.MayTrustOnce ? " (may trust once)" : ""), *message ? "The server's certificate is not trusted: " + std::string(message) : "") << check;
    }
    char exe[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, exe, MAX_PATH);
    const std::string popcheck = std::string(exe, std::strrchr(exe, '\\') + 1) + "..\\..\\mail\\popcheck.exe ";
    for (const auto& t : table) {
        testsupport::ScriptedServer server(t.script);
        std::string args = t.args, out, err;
        if (const auto at = args.find("{server}"); at != std::string::npos) args.replace(at, 8, server.Address());
        const std::size_t logged = dovecot::Log(true).size();
        const ULONGLONG start = GetTickCount64();
        EXPECT_EQ(run(popcheck + args, t.input, out, err), t.code) << args << err;
        EXPECT_LT(GetTickCount64() - start, 4000u) << args;
        EXPECT_NE((t.code ? err : out).find(t.output), std::string::npos) << out << err;
        EXPECT_TRUE(testsupport::PumpUntil([&] { return !server.Accepted() || server.Finished(); }));
        EXPECT_EQ(server.Received(), server.Expected());
        // Dovecot tells how each connection ended, and who logged in.
        std::string log;
        const bool toDovecot = args.find("alice") != std::string::npos;
        EXPECT_TRUE(!toDovecot || testsupport::PumpUntil([&] {
            return (log = dovecot::Log(true).substr(logged)).find("Disconnected") != std::string::npos;
        }));
        EXPECT_EQ(log.find("user=<alice>") != std::string::npos, toDovecot && t.code == 0) << log;
    }
}

// The IMAP mailbox against the real Dovecot in each security mode: the
// unread count leaves out the seen message; a message delivered while it
// idles is told within a second, and read by the next check; a new
// UIDVALIDITY makes nothing new and starts the mark afresh.
TEST(ImapDovecot, CountsIdlesAndStartsAfreshOnANewUidValidity) {
    namespace dovecot = testsupport::dovecot;
    ASSERT_NE(dovecot::FirstLine("imaps_port", true), "") << "no TLS Dovecot: run through ctest (its dovecot_tls fixture)";
    for (bool seen : {false, true, false}) ASSERT_TRUE(dovecot::Deliver("carol", "Subject: old\r\n\r\nbody\r\n", true, seen));
    std::ifstream pem(dovecot::Folder(true) + "\\tls\\ca.pem", std::ios::binary);
    mail::TImapMailbox box(nullptr);
    box.SetWinsockLoaded(true);
    box.UserName = "carol", box.Password = "sea", box.ExtraRootCertificate = net::CertificateDer(std::string(std::istreambuf_iterator<char>(pem), {}));
    box.SetTimeOut(5);
    for (auto [security, port] : {std::pair{net::TSecurity::None, "imap_port"}, {net::TSecurity::StartTls, "imap_port"}, {net::TSecurity::Tls, "imaps_port"}}) {
        box.Security = security, box.Server = "localhost:" + dovecot::FirstLine(port, true);
        box.Check({});
        EXPECT_EQ(std::to_string(box.UnseenCount) + " " + std::to_string(box.MessageCount) + " " + std::to_string(box.Mark.HighestUid) + " " +
                      std::to_string(box.NewMessages.size()) + " " + std::to_string(box.Secure()),
                  "2 3 3 0 " + std::to_string(security != net::TSecurity::None));
        if (security != net::TSecurity::Tls) box.Disconnect();
    }
    ASSERT_TRUE(box.CanIdle());
    box.StartIdle();
    bool changed = false;
    box.OnReadable = [&](fw::TObject*) { changed = changed || box.IdleChanged(); };
    ASSERT_TRUE(dovecot::Deliver("carol", "Subject: while idling\r\nFrom: ann@example.org\r\n\r\nbody\r\n", true));
    EXPECT_TRUE(testsupport::PumpUntil([&] { return changed; }, 1500)) << "no word of the delivery within 1.5 s";
    EXPECT_TRUE(box.EndIdle());
    const mail::TUidMark before = box.Mark;
    box.Check(before);
    ASSERT_EQ(box.NewMessages.size(), 1u);
    EXPECT_EQ(std::to_string(box.NewMessages[0].Uid) + " " + joined(box.NewMessages[0].Info.Headers) + std::to_string(box.UnseenCount), "4 Subject: while idling|From: ann@example.org|3");
    box.Disconnect();
    ASSERT_TRUE(dovecot::RenewUidValidity("carol", true));
    box.Check({true, before.UidValidity, 0});
    EXPECT_EQ(std::to_string(box.NewMessages.size()) + " " + std::to_string(box.UnseenCount) + " " + std::to_string(box.Mark.UidValidity != before.UidValidity), "0 3 1");
    box.Disconnect();
}
