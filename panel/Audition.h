#pragma once

#include <QString>
#include <functional>

class ChimePlayer;

// The chime audition of the dialog: plays the entry chosen in the list
// through the player, the hour melody followed by the four o'clock strikes.
class Audition
{
public:
    enum State { Idle = 0, Single = 1, Melody = 2, Strikes = 3 };

    // folder holds the sound files; showImage receives "Play" or "Stop";
    // yield lets the event loop run once.
    Audition(ChimePlayer &player, QString folder, std::function<void(const QString &image)> showImage,
             std::function<void()> yield);

    int AuditionState() const { return m_state; }

    // The play button: starts the entry's chime, or stops what plays.
    void cmdPlayClick(int entry);
    // The player's completion notice.
    void completion(int code);
    void PlayChimeFile(const QString &path);
    // The dialog's unload: silences the player and releases the device.
    void unload();

private:
    ChimePlayer &m_player;
    QString m_folder;
    std::function<void(const QString &)> m_showImage;
    std::function<void()> m_yield;
    int m_state = Idle;
};
