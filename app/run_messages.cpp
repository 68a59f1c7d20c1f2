// The messages of a device run on their way to the console.
#include "app/run_messages.h"

#include <algorithm>

#include "app/command_line.h"
#include "app/console.h"
#include "platform/sync.h"
#include "platform/terminal.h"

namespace kelvo {

namespace {

// Shorter waits (the address wait's one-second steps, which stand inside a
// progress line) pass without a countdown.
constexpr uint32_t kCountdownMinMs = 5000;

}  // namespace

void RunMessages::Write(bool toError, const std::string& text) {
    switch (route_) {
    case MessageRoute::Console:
        if (toError)
            Err(text.c_str());
        else
            Out(text.c_str());
        break;
    case MessageRoute::Silent:
        break;
    }
}

void RunMessages::Progress(const std::string& text) { Write(false, text); }

void RunMessages::Line(const std::string& text) { Write(false, text + "\n"); }

void RunMessages::Result(const std::string& text) {
    Write(false, text + "\n");
    message_ = text;
    errorOpen_ = false;
}

void RunMessages::Error(const std::string& text, const std::string& deviceText) {
    Write(true, "ERROR: " + text + ConsoleSafe(deviceText) + "\n");
    message_ = text + deviceText;
    errorOpen_ = true;
}

void RunMessages::ErrorMore(const std::string& text) {
    Write(true, text + "\n");
    const std::string more = Trimmed(text);  // one line of the one-line message: no tabs at its ends
    if (!errorOpen_)
        message_ = more;
    else if (!more.empty())
        message_ += " " + more;
    errorOpen_ = true;
}

void RunMessages::SplitError(const std::string& errorPart, const std::string& outputPart) {
    Write(true, errorPart);
    Write(false, outputPart + "\n");
    message_ = errorPart + outputPart;
    errorOpen_ = true;
}

void RunMessages::Pause(uint32_t ms) { platform::SleepMs(ms); }

bool RunMessages::StopIfInterrupted() {
    if (!stopped_ && Interrupted()) stopped_ = true;
    return stopped_;
}

void ConsoleMessages::Pause(uint32_t ms) {
    if (ms < kCountdownMinMs || !platform::StandardErrorIsTerminal()) return RunMessages::Pause(ms);
    const uint64_t end = platform::MonotonicMs() + ms;
    for (uint64_t now = platform::MonotonicMs(); now < end; now = platform::MonotonicMs()) {
        const uint64_t left = end - now;
        LiveLine("waiting " + std::to_string((left + 999) / 1000) + " s");
        platform::SleepMs(static_cast<uint32_t>(std::min<uint64_t>(left, (left - 1) % 1000 + 1)));
    }
    LiveLine("");
}

}  // namespace kelvo
