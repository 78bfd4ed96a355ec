#pragma once
// SASL XOAUTH2, the bearer-token log-in of the big mail providers, for any
// protocol that carries SASL (POP3 AUTH, IMAP AUTHENTICATE): the client's
// initial response, and the server's failure challenge. No <windows.h> here.
#include <string>
#include <string_view>

namespace mail {

// Base64 of "user=" user ^A "auth=Bearer " token ^A ^A.
std::string XOAuth2InitialResponse(const std::string& user, const std::string& token);

// What a failure challenge (base64 of a JSON object, sent in place of the
// verdict; the client answers it with an empty line) says.
struct TXOAuth2Failure {
    // Its "status" ("401", "invalid_token"), or "" when the challenge is no
    // readable JSON object.
    std::string Status;
    // The token itself was refused (expired or revoked): one refresh and a
    // second try may mend it. Statuses of that meaning, and a challenge that
    // cannot be read, count.
    bool TokenRejected = true;
};
TXOAuth2Failure ReadXOAuth2Challenge(std::string_view challenge);

}  // namespace mail
