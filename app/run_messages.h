// Where the messages of a device run go, and what its result text is.
//
// The operations of /set and /upload print through RunMessages. On the
// console every text shows the moment it comes, on the stream it belongs to:
// byte for byte the output of a single-device run. A plan's rows keep their
// texts silent and show each run's result their own way, from Message().
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace kelvo {

// Where a run's texts go.
enum class MessageRoute {
    Console,  // standard output and standard error, as a single run prints them
    Silent,   // nowhere; only the result text is kept
};

class RunMessages {
public:
    explicit RunMessages(MessageRoute route = MessageRoute::Console) : route_(route) {}
    virtual ~RunMessages() = default;
    RunMessages(const RunMessages&) = delete;
    RunMessages& operator=(const RunMessages&) = delete;

    // Standard output: a progress text that a later text completes
    // ("Locate device (auto): "), or a whole line ("SUCCESS").
    void Progress(const std::string& text);
    void Line(const std::string& text);
    // A standard output line that is the run's result ("IP address has been changed.").
    void Result(const std::string& text);
    // "ERROR: " and text on standard error; the run's result text becomes text.
    // deviceText (a device's own message) follows text: on the console made
    // safe (ConsoleSafe), in the result text as the device sent it.
    void Error(const std::string& text, const std::string& deviceText = std::string());
    // A further standard error line of the same error, added to the result text.
    void ErrorMore(const std::string& text);
    // A failure whose code goes to standard error and whose explanation
    // completes the same console line on standard output (": text", or
    // nothing when there is no text): the FTP failures.
    void SplitError(const std::string& errorPart, const std::string& outputPart);

    // A failure found after the run (the result log), printed where it was
    // found: it only becomes the result text.
    void NoteFailure(const std::string& text) {
        message_ = text;
        errorOpen_ = false;
    }

    // The long pauses of a run (the reboot wait, the address wait); the
    // console may show them while they last.
    virtual void Pause(uint32_t ms);
    // The wait for a rebooted device to answer as asked, which lasts until
    // WaitEnded (limitMs at most); the console may show it meanwhile.
    virtual void WaitStarted(uint32_t limitMs) { (void)limitMs; }
    virtual void WaitEnded() {}

    // Asked just before a device is changed (settings, DHCP, upload): true
    // when the run is to stop there, untouched. A single run never stops.
    virtual bool Interrupted() const { return false; }
    // True, and the run counts as stopped, when Interrupted() says so.
    bool StopIfInterrupted();
    bool Stopped() const { return stopped_; }

    // The text that tells how the run ended: its last result line or error,
    // without the "ERROR: " prefix; error lines that belong together are
    // joined by one space.
    const std::string& Message() const { return message_; }

private:
    void Write(bool toError, const std::string& text);

    MessageRoute route_;
    std::string message_;
    bool errorOpen_ = false;  // the last text was an error: ErrorMore adds to it
    bool stopped_ = false;
};

// A single run on the console. On a terminal's standard error its long
// waits show a countdown, erased before the next text, so the bytes of the
// output are the same wherever it is captured.
class ConsoleMessages : public RunMessages {
public:
    ConsoleMessages();
    ~ConsoleMessages() override;
    void Pause(uint32_t ms) override;
    void WaitStarted(uint32_t limitMs) override;
    void WaitEnded() override;

private:
    struct WaitDisplay;
    std::unique_ptr<WaitDisplay> waitDisplay_;  // while a wait shows on a terminal
};

}  // namespace kelvo
