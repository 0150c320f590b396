#pragma once

#include <QString>
#include <functional>
#include <memory>

// One sound at a time, driven like a multimedia control: set the device type
// and the file name, then send the commands "Close", "Open", "Play" and
// "Stop". The clock and the configuration program's audition both use it.
class ChimePlayer
{
public:
    // What mode() reports. Only ModePlaying means that a sound is playing.
    static constexpr int ModeNotOpen = 524;
    static constexpr int ModeStopped = 525;
    static constexpr int ModePlaying = 526;

    // The codes a completion notice carries.
    static constexpr int NotifySuccessful = 1;
    static constexpr int NotifySuperseded = 2;
    static constexpr int NotifyAborted = 4;
    static constexpr int NotifyFailure = 8;

    enum class Result {
        Ok,
        UnknownCommand,
        UnsupportedDeviceType,
        // "Open": the file is missing, unreadable or no regular file.
        CannotOpenFile,
        // "Play" or "Stop" with no file open.
        NotOpen,
        // "Play": the sound was already known to be undecodable.
        CannotPlay,
        // "Open": the sound back end has been held up beyond its bound by
        // an earlier sound, and takes no other until it lets go.
        NotAnswering,
    };

    using CompletionHandler = std::function<void(int code)>;

    virtual ~ChimePlayer() = default;

    virtual void setDeviceType(const QString &deviceType) = 0;
    virtual QString deviceType() const = 0;
    virtual void setFileName(const QString &fileName) = 0;
    virtual QString fileName() const = 0;

    // Asks for a completion notice from the next command. Only "Play" ends
    // later than the command itself: its notice comes when the sound ends (1),
    // fails (8), is stopped (4) or a later "Play" takes its place (2). The
    // other commands use up the request and send no notice.
    virtual void setNotify(bool notify) = 0;

    // Runs "Close", "Open", "Play" or "Stop" (case does not matter) and never
    // blocks on the sound or its server: a sound that has not started a
    // few seconds after "Play" is notified as failed (8). "Close" with nothing open does nothing. After
    // "Close" or the next "Open", nothing of the earlier file is ever notified.
    virtual Result command(const QString &command) = 0;

    virtual int mode() const = 0;

    // Called from the event loop, never from inside command().
    virtual void setCompletionHandler(CompletionHandler handler) = 0;
    // Loads the sound back end ahead of the first "Open", so that the first
    // chime starts as promptly as the later ones. Nothing is played.
    virtual void prepare() {}
};

QString describe(ChimePlayer::Result result);

// The player of this platform.
std::unique_ptr<ChimePlayer> makeChimePlayer();
