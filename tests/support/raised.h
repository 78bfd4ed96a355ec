#pragma once
// The message of the exception of type E that `f` raises, or a text that
// names what happened instead, so a failed check shows it in its output.
#include <exception>
#include <string>

namespace testsupport {

template <typename E, typename F>
std::string MessageOf(F&& f) {
    try {
        f();
    } catch (const E& e) {
        return e.Message;
    } catch (const std::exception& e) {
        return std::string("<other exception> ") + e.what();
    }
    return "<no exception>";
}

}  // namespace testsupport
