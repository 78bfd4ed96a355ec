#pragma once
// Helpers for tests that run under Wine: pumping window messages until a
// condition holds or a deadline passes, and simple clocks.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace testsupport {

// Dispatches messages (blocking while the queue is empty) until `done`
// returns true or `timeoutMs` has passed. Returns whether `done` held.
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs);
// Dispatches messages for the given time.
void PumpFor(DWORD ms);

// Processor time (user + kernel) of this process, in milliseconds.
double ProcessCpuMs();

// The last exception texts and captions that reached the application's handler.
struct CapturedBoxes {
    std::vector<std::pair<std::string, std::string>> boxes;  // (text, caption)
    void clear() { boxes.clear(); }
};
CapturedBoxes& ExceptionBoxes();

// The directory of the running test executable, with a trailing backslash.
std::string ExeDirectory();

}  // namespace testsupport
