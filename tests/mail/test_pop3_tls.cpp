// Secure mailboxes: the POP3 component against a Dovecot that requires TLS
// (STLS on one port, TLS from the first byte on another; a second address
// shows a certificate of a CA nobody trusts), against openssl s_server for
// record edge cases, and transcripts of servers that refuse STLS. The
// fixture's test CA is trusted in this run's throwaway Wine prefix only.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "app/settings.h"
#include "framework/registry.h"
#include "framework/security_handles.h"
#include "gtest/gtest.h"
#include "tests/mail/pop3_probe.h"
#include "tests/support/dovecot_fixture.h"
#include "tests/support/scripted_server.h"

using mailtest::Events;
using mailtest::ProbePOP;
using net::TSecurity;
using testsupport::PumpUntil;
using testsupport::ScriptedServer;

namespace {

testsupport::DovecotServer* dovecot = nullptr;
std::string dovecotError;

// The test CA in the current user's Root store, for as long as the run lasts.
void trustTestCa(const std::string& der, bool trust) {
    fw::UniqueCertStore root(CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, "Root"));
    ASSERT_TRUE(root) << GetLastError();
    PCCERT_CONTEXT added = nullptr;
    ASSERT_TRUE(CertAddEncodedCertificateToStore(root.get(), X509_ASN_ENCODING,
                                                 reinterpret_cast<const BYTE*>(der.data()),
                                                 static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING,
                                                 &added));
    if (!trust) CertDeleteCertificateFromStore(added);  // frees `added`
    else fw::UniqueCertificate owned(added);
    CertControlStore(root.get(), 0, CERT_STORE_CTRL_COMMIT, nullptr);
}

class TlsDovecot : public testing::Environment {
public:
    void SetUp() override {
        dovecot = new testsupport::DovecotServer(TIDEMARK_SOURCE_DIR "/scripts/dovecot-fixture.sh");
        dovecot->Tls = true;
        if (!dovecot->Start({{"alice", "secret"}}, dovecotError)) return;
        ca_ = net::CertificateDer(dovecot->File("tls/ca.pem"));
        if (ca_.empty()) dovecotError = "no test CA";
        if (!ca_.empty()) trustTestCa(ca_, true);
        dovecot->AddMessage("alice", "From: Ann <ann@example.org>\nSubject: Tide tables\n\nHigh water at six.\n");
        dovecot->AddMessage("alice", "Subject: Quarterly\r\n report\r\nFrom: bob@example.org\r\n\r\nbody\r\n");
    }
    void TearDown() override {
        if (!ca_.empty()) trustTestCa(ca_, false);
        delete dovecot;
    }

private:
    std::string ca_;
};
const auto* const environment = testing::AddGlobalTestEnvironment(new TlsDovecot);

std::string serverText(const std::string& host, std::uint16_t port) { return host + ":" + std::to_string(port); }

// What one check found, in one comparable text.
std::string summary(const ProbePOP& pop) {
    std::string s = std::to_string(pop.MessageCount) + " " + std::to_string(pop.MailboxSize);
    for (int i = 0; i < pop.RemoteInfo.Count(); ++i) {
        s += "|" + std::to_string(pop.RemoteInfo.Items(i).Size);
        for (const std::string& line : pop.headers(i)) s += ";" + line;
    }
    return s;
}

// Dovecot's log from `from` on, once it has told how the connection ended.
std::string logAfter(std::size_t from) {
    std::string part;
    PumpUntil([&] {
        part = dovecot->Log().substr(std::min(from, dovecot->Log().size()));
        return part.find("Disconnected") != std::string::npos;
    }, 3000);
    return part;
}

class Pop3Tls : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dovecotError.empty()) << dovecotError; }
};

}  // namespace

TEST_F(Pop3Tls, TlsAndStartTlsFindWhatPlainTextFinds) {
    ProbePOP plain(serverText("127.0.0.1", dovecot->Port()));
    plain.UpdateInfo();
    EXPECT_EQ(summary(plain), "2 133|73;From: Ann <ann@example.org>;Subject: Tide tables"
                              "|60;Subject: Quarterly; report;From: bob@example.org");
    const std::string otherCa = net::CertificateDer(dovecot->File("tls/other-ca.pem"));
    struct Case {
        TSecurity security;
        std::string server;
        std::string extraRoot;
    } cases[] = {
        {TSecurity::Tls, serverText("localhost", dovecot->TlsPort()), ""},
        {TSecurity::StartTls, serverText("localhost", dovecot->Port()), ""},
        // popcheck --ca: a CA trusted for one run only.
        {TSecurity::Tls, serverText("127.0.0.2", dovecot->TlsPort()), otherCa},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.server);
        const std::size_t from = dovecot->Log().size();
        ProbePOP pop(c.server);
        pop.Security = c.security;
        pop.ExtraRootCertificate = c.extraRoot;
        std::string protocol;
        pop.OnClosing = [&](fw::TObject*) { protocol = pop.TlsInfo().Protocol; };
        pop.UpdateInfo();
        EXPECT_EQ(summary(pop), summary(plain));
        EXPECT_EQ(protocol.substr(0, 4), "TLS ");
        EXPECT_FALSE(pop.Connected());
        EXPECT_NE(logAfter(from).find("Login: user=<alice>, method=PLAIN"), std::string::npos);
        EXPECT_NE(logAfter(from).find(", TLS, "), std::string::npos) << logAfter(from);
    }
}

TEST_F(Pop3Tls, RefusedCertificatesCloseBeforeAnyLogin) {
    const struct {
        TSecurity security;
        std::string host;
        bool implicitPort;
        std::string message;
    } cases[] = {
        {TSecurity::Tls, "127.0.0.1", true, "The server's certificate is not trusted: it is not issued for 127.0.0.1"},
        {TSecurity::StartTls, "127.0.0.1", false,
         "The server's certificate is not trusted: it is not issued for 127.0.0.1"},
        {TSecurity::Tls, "127.0.0.2", true,
         "The server's certificate is not trusted: it is not issued by a trusted authority"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.host);
        const std::size_t from = dovecot->Log().size();
        ProbePOP pop(serverText(c.host, c.implicitPort ? dovecot->TlsPort() : dovecot->Port()));
        pop.Security = c.security;
        EXPECT_EQ(mailtest::MessageOf<net::ESocketError>([&] { pop.UpdateInfo(); }), c.message);
        EXPECT_FALSE(pop.Connected());
        EXPECT_EQ(pop.events.back(), "closed");
        const std::string log = logAfter(from);
        EXPECT_NE(log.find("no auth attempts"), std::string::npos) << log;
        EXPECT_EQ(log.find("alice"), std::string::npos) << log;
    }
}

TEST_F(Pop3Tls, ACertificateTrustedOnceIsAcceptedUntilItChanges) {
    const std::string server = serverText("127.0.0.2", dovecot->TlsPort());
    RegDeleteValueA(HKEY_CURRENT_USER, app::TrustedCertificateValue(server).c_str());
    std::vector<std::string> questions;
    bool answer = true;
    ProbePOP pop(server);
    pop.Security = TSecurity::Tls;
    pop.OnUntrustedCertificate = [&](fw::TObject*, const net::TCertificateVerdict& v) {
        return app::AcceptCertificate(server, v, [&](const std::string& q) {
            questions.push_back(q);
            return answer;
        });
    };
    pop.UpdateInfo();
    ASSERT_EQ(questions.size(), 1u);
    const std::string prefix = "The server's certificate is not trusted: it is not issued by a trusted authority."
                               "\n\nTrust this certificate for " + server + "? SHA-256 fingerprint: ";
    EXPECT_EQ(questions[0].substr(0, prefix.size()), prefix);
    EXPECT_EQ(questions[0].size(), prefix.size() + 95) << "32 bytes as hex pairs joined by ':'";
    EXPECT_EQ(pop.MessageCount, 2);

    pop.UpdateInfo();
    EXPECT_EQ(questions.size(), 1u) << "the stored fingerprint answers";

    {
        fw::TRegistry reg;
        reg.OpenKey(app::SettingsKey, true);
        reg.WriteString(app::TrustedCertificateValue(server), std::string(95, '0'));
    }
    answer = false;
    EXPECT_EQ(mailtest::MessageOf<net::ESocketError>([&] { pop.UpdateInfo(); }),
              "The server's certificate is not trusted: it is not issued by a trusted authority");
    EXPECT_EQ(questions.size(), 2u) << "a changed certificate is asked about again";
    EXPECT_FALSE(pop.Connected());
    RegDeleteValueA(HKEY_CURRENT_USER, app::TrustedCertificateValue(server).c_str());
}

namespace {
// openssl s_server on 127.0.0.1 with the fixture's localhost certificate,
// sending `pieces` 300 ms apart (see scripts/tls-test-server.sh).
std::uint16_t startTlsServer(const std::string& options, const std::vector<std::string>& pieces) {
    static int sequence = 0;
    // Wine reuses process ids from run to run: the clock keeps names apart.
    const std::string unixDir = "/tmp/tidemark-tls-" + std::to_string(GetCurrentProcessId()) + "-" +
                                std::to_string(GetTickCount64()) + "-" + std::to_string(++sequence);
    std::string winDir = "Z:" + unixDir;
    for (char& c : winDir)
        if (c == '/') c = '\\';
    CreateDirectoryA(winDir.c_str(), nullptr);
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        fw::UniqueFile f(CreateFileA((winDir + "\\input." + std::to_string(i + 1)).c_str(), GENERIC_WRITE, 0, nullptr,
                                     CREATE_ALWAYS, 0, nullptr));
        DWORD n = 0;
        WriteFile(f.get(), pieces[i].data(), static_cast<DWORD>(pieces[i].size()), &n, nullptr);
    }
    const std::string certs = dovecot->UnixDirectory() + "/tls/";
    std::string cmd = std::string("\"" TIDEMARK_SOURCE_DIR "/scripts/tls-test-server.sh\" ") + unixDir + " " +
                      certs + "server.pem " + certs + "server.key " + options;
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return 0;
    fw::UniqueKernelHandle process(pi.hProcess), thread(pi.hThread);
    std::string port;
    PumpUntil([&] {
        fw::UniqueFile f(CreateFileA((winDir + "\\port").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, 0, nullptr));
        char text[16] = {};
        DWORD n = 0;
        if (f) ReadFile(f.get(), text, sizeof text - 1, &n, nullptr);
        port = text;
        return !port.empty();
    }, 10000);
    return static_cast<std::uint16_t>(std::atoi(port.c_str()));
}

void openTls(net::TSocketClient& s, std::uint16_t port) {
    ASSERT_NE(port, 0);
    s.SetWinsockLoaded(true);
    s.SetTimeOut(5);
    s.Server = serverText("localhost", port);
    s.Security = TSecurity::Tls;
    s.Open();
}
}  // namespace

TEST_F(Pop3Tls, RecordsSmallLargeAndRenegotiatedThenTheClosingAlert) {
    std::string data;
    for (int i = 0; i < 600; ++i) data += "X-Line-" + std::to_string(i) + ": " + std::string(60, 'v') + "\r\n";
    data += ".\r\n";
    const std::string lines = "+OK greeting\r\n" + std::string(900, 'b') + "\r\n";
    const struct {
        std::string options;
        std::vector<std::string> pieces;
    } cases[] = {
        {"-max_send_frag 512", {lines + data}},  // records far smaller than a line
        {"", {lines + data}},                    // records larger than one read
        {"-tls1_2", {lines, "r\n", data}},       // a renegotiation between two replies
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options);
        net::TSocketClient s(nullptr);
        openTls(s, startTlsServer(c.options, c.pieces));
        s.ConnectSocket();
        std::string line;
        EXPECT_EQ(s.ReadLine(line), -1);
        EXPECT_EQ(line, "+OK greeting");
        s.ReadLine(line);
        EXPECT_EQ(line, std::string(900, 'b'));
        fw::TMemoryStream stream;
        s.ReadData(stream, -1);
        EXPECT_EQ(std::string(stream.Memory(), static_cast<std::size_t>(stream.Size())), data);
        EXPECT_EQ(mailtest::MessageOf<net::ESocketError>([&] { s.ReadLine(line); }),
                  "Connection closed by the server");
        s.Close();
    }
    // Wine 8's SChannel has no TLS 1.3: such a server is told apart.
    net::TSocketClient s(nullptr);
    openTls(s, startTlsServer("-tls1_3", {"+OK\r\n"}));
    EXPECT_EQ(mailtest::MessageOf<net::ESocketError>([&] { s.ConnectSocket(); }),
              "The server accepts no TLS version or cipher that this system offers (TLS 1.2 or later)");
}

TEST(Pop3StlsTranscript, EveryRefusalFailsBeforeAWordOfTheLogin) {
    auto capa = [](ScriptedServer& s, const std::string& reply) -> ScriptedServer& {
        return s.Send("+OK hi\r\n").ExpectLine().Send(reply);
    };
    const std::string stls = "+OK\r\nSTLS\r\n.\r\n";
    const struct {
        TSecurity security;
        std::function<void(ScriptedServer&)> script;
        std::string message;
        std::string sent;  // in plain text; "TLS" for a ClientHello alone
    } cases[] = {
        {TSecurity::StartTls, [&](ScriptedServer& s) { capa(s, "+OK\r\nTOP\r\nUSER\r\n.\r\n"); },
         "The server does not offer STLS, so the password cannot be sent safely", "CAPA\r\n"},
        {TSecurity::StartTls, [&](ScriptedServer& s) { capa(s, "-ERR no CAPA here\r\n"); },
         "The server does not offer STLS, so the password cannot be sent safely", "CAPA\r\n"},
        {TSecurity::StartTls, [&](ScriptedServer& s) { capa(s, stls).ExpectLine().Send("-ERR not now\r\n"); },
         "The server refused STLS: -ERR not now", "CAPA\r\nSTLS\r\n"},
        {TSecurity::StartTls, [&](ScriptedServer& s) { capa(s, stls).ExpectLine().Send("+OK go\r\n").Pause(200).Close(); },
         "The server closed the connection during the secure handshake", "CAPA\r\nSTLS\r\n"},
        {TSecurity::StartTls, [&](ScriptedServer& s) { capa(s, stls).ExpectLine().Send("+OK go\r\n+OK forged\r\n"); },
         "The server sent plain text after agreeing to STLS", "CAPA\r\nSTLS\r\n"},
        {TSecurity::Tls, [](ScriptedServer& s) { s.Send("+OK hi\r\n"); }, "The server does not speak TLS on this port",
         "TLS"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        ScriptedServer server;
        c.script(server);
        server.Start();
        ProbePOP pop(server.Address());
        pop.Security = c.security;
        EXPECT_EQ(mailtest::MessageOf<fw::Exception>([&] { pop.UpdateInfo(); }), c.message);
        EXPECT_FALSE(pop.Connected());
        // Everything the client sent is recorded once it has hung up.
        PumpUntil([&] { return server.ClientClosed(); }, 1000);
        const std::string sent = server.Received();
        if (c.sent == "TLS")
            EXPECT_EQ(sent.substr(0, 2), "\x16\x03") << "a handshake record, nothing else";
        else
            EXPECT_EQ(sent, c.sent);
    }
}
