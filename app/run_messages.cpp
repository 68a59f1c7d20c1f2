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

// The last query of a wait may end a few seconds past its limit: the count stops there.
std::string WaitText(uint64_t elapsedMs, uint32_t limitMs) {
    return "Waiting for the device: " + std::to_string(std::min<uint64_t>(elapsedMs, limitMs) / 1000) +
           " s of " + std::to_string(limitMs / 1000) + " s";
}

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

// The elapsed time of a wait against its limit, redrawn every second on its
// own thread, since the queries of the wait block for up to 5 s each.
struct ConsoleMessages::WaitDisplay {
    platform::Event ended;
    platform::Thread drawer;
};

ConsoleMessages::ConsoleMessages() : RunMessages(MessageRoute::Console) {}

ConsoleMessages::~ConsoleMessages() { WaitEnded(); }

void ConsoleMessages::WaitStarted(uint32_t limitMs) {
    WaitEnded();
    if (!platform::StandardErrorIsTerminal()) return;
    auto display = std::make_unique<WaitDisplay>();
    if (!display->ended.Valid()) return;
    WaitDisplay* shown = display.get();
    const uint64_t start = platform::MonotonicMs();
    const bool started = display->drawer.Start([shown, start, limitMs] {
        for (;;) {
            const uint64_t elapsed = platform::MonotonicMs() - start;
            LiveLine(WaitText(elapsed, limitMs));
            if (shown->ended.Wait(static_cast<uint32_t>(1000 - elapsed % 1000))) break;
        }
        LiveLine("");
    });
    if (started) waitDisplay_ = std::move(display);
}

void ConsoleMessages::WaitEnded() {
    if (!waitDisplay_) return;
    waitDisplay_->ended.Set();
    waitDisplay_->drawer.Join();
    waitDisplay_.reset();
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
