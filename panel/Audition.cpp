#include "Audition.h"

#include "ChimePlayer.h"

Audition::Audition(ChimePlayer &player, QString folder, std::function<void(const QString &)> showImage,
                   std::function<void()> yield)
    : m_player(player)
    , m_folder(std::move(folder))
    , m_showImage(std::move(showImage))
    , m_yield(std::move(yield))
{
}

// Failed commands are not looked at: a missing sound only leaves the
// button on "Stop" until the user clicks it or a notice comes.
void Audition::PlayChimeFile(const QString &path)
{
    m_player.setDeviceType(QStringLiteral("MPEGVideo"));
    m_player.setFileName(path);
    // The player is this dialog's alone, so it is never shared.
    m_player.command(QStringLiteral("Close"));
    m_player.command(QStringLiteral("Open"));
    m_player.setNotify(true);
    m_player.command(QStringLiteral("Play"));
}

void Audition::cmdPlayClick(int entry)
{
    if (m_state != Idle) {
        m_player.command(QStringLiteral("Stop"));
        m_showImage(QStringLiteral("Play"));
        m_state = Idle;
        return;
    }
    m_showImage(QStringLiteral("Stop"));
    const QString path = m_folder + QStringLiteral("/Carill") + QString::number(entry + 1) + QStringLiteral(".mp3");
    m_state = entry == 0 ? Melody : Single;
    PlayChimeFile(path);
}

void Audition::completion(int code)
{
    if (code != 1) {
        m_state = Idle;
        // The button never shows "Stop" while nothing plays.
        m_showImage(QStringLiteral("Play"));
        return;
    }
    switch (m_state) {
    case Single:
    case Strikes:
        m_player.command(QStringLiteral("Close"));
        m_state = Idle;
        m_showImage(QStringLiteral("Play"));
        break;
    case Melody:
        m_state = Strikes;
        m_yield();
        // A click on the button during the yield has stopped the audition.
        if (m_state != Strikes)
            break;
        PlayChimeFile(m_folder + QStringLiteral("/CarillH4.mp3"));
        break;
    default:
        break;
    }
}

void Audition::unload()
{
    m_player.command(QStringLiteral("Stop"));
    m_player.command(QStringLiteral("Close"));
}
