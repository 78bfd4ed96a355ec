#include "mail/xoauth2.h"

#include <map>

#include "framework/json_text.h"
#include "framework/sysutils.h"

namespace mail {

std::string XOAuth2InitialResponse(const std::string& user, const std::string& token) {
    return fw::Base64Encode("user=" + user +
                            "\x01"
                            "auth=Bearer " +
                            token + "\x01\x01");
}

TXOAuth2Failure ReadXOAuth2Challenge(std::string_view challenge) {
    TXOAuth2Failure failure;
    std::string json;
    std::map<std::string, std::string> members;
    if (!fw::Base64Decode(challenge, json) || !fw::ReadJsonObject(json, members)) return failure;
    failure.Status = members["status"];
    // Google says "401" for an expired token and "400" for a scope the token
    // lacks; others name the RFC 6750 error instead of an HTTP status. Only a
    // token that is refused as such is worth a refresh.
    const std::string status = fw::LowerCaseAscii(failure.Status);
    failure.TokenRejected = status == "401" || status == "invalid_token" || status.empty();
    return failure;
}

}  // namespace mail
