#include "ChimePlayer.h"

#include <QAudioOutput>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QMediaPlayer>
#include <QObject>
#include <QTimer>
#include <QUrl>
#include <utility>

namespace {

Q_LOGGING_CATEGORY(lcPlayer, "tintarel.chimes", QtWarningMsg)

bool isReadableFile(const QString &path)
{
    if (path.isEmpty() || !QFileInfo(path).isFile())
        return false;
    // Opening proves readability where permission bits cannot (root ignores them).
    QFile file(path);
    return file.open(QIODevice::ReadOnly);
}

// Qt Multimedia with a fresh QMediaPlayer for every "Open": a player that
// has once failed stalls and fails again when reused, and stop() on it
// blocks, so a failed or finished file is only ever deleted, never reused.
class QtChimePlayer final : public ChimePlayer
{
public:
    ~QtChimePlayer() override { release(); }

    void setDeviceType(const QString &deviceType) override { m_deviceType = deviceType; }
    QString deviceType() const override { return m_deviceType; }
    void setFileName(const QString &fileName) override { m_fileName = fileName; }
    QString fileName() const override { return m_fileName; }
    void setNotify(bool notify) override { m_notifyNext = notify; }
    void setCompletionHandler(CompletionHandler handler) override { m_handler = std::move(handler); }

    void prepare() override
    {
        // The multimedia plug-in and the audio devices load with the first
        // player made; a throw-away one brings them in.
        QMediaPlayer media;
        QAudioOutput audio;
        media.setAudioOutput(&audio);
    }

    int mode() const override
    {
        if (!m_media)
            return ModeNotOpen;
        return m_playing ? ModePlaying : ModeStopped;
    }

    Result command(const QString &command) override
    {
        const bool notify = std::exchange(m_notifyNext, false);
        const QString name = command.trimmed().toLower();
        if (name == QLatin1String("close")) {
            release();
            return Result::Ok;
        }
        if (name == QLatin1String("open"))
            return open();
        if (name == QLatin1String("play"))
            return play(notify);
        if (name == QLatin1String("stop"))
            return stop();
        return Result::UnknownCommand;
    }

private:
    Result open()
    {
        release();
        if (!m_deviceType.isEmpty() && m_deviceType.compare(QLatin1String("MPEGVideo"), Qt::CaseInsensitive) != 0)
            return Result::UnsupportedDeviceType;
        if (!isReadableFile(m_fileName)) {
            qCInfo(lcPlayer) << "player cannot open" << m_fileName;
            return Result::CannotOpenFile;
        }

        m_media = std::make_unique<QMediaPlayer>();
        // Without an audio output attached, playback never reaches its end.
        m_audio = std::make_unique<QAudioOutput>();
        m_media->setAudioOutput(m_audio.get());
        m_failed = false;
        m_playing = false;

        const quint64 generation = m_generation;
        QMediaPlayer *media = m_media.get();
        QObject::connect(media, &QMediaPlayer::mediaStatusChanged, &m_context,
                         [this, generation](QMediaPlayer::MediaStatus status) {
                             if (generation != m_generation)
                                 return;
                             if (status == QMediaPlayer::InvalidMedia)
                                 failed(QStringLiteral("invalid media"));
                             else if (status == QMediaPlayer::EndOfMedia)
                                 finished();
                         });
        QObject::connect(media, &QMediaPlayer::errorOccurred, &m_context,
                         [this, generation](QMediaPlayer::Error error, const QString &text) {
                             if (generation == m_generation && error != QMediaPlayer::NoError)
                                 failed(text);
                         });
        QObject::connect(media, &QMediaPlayer::playbackStateChanged, &m_context,
                         [this, generation](QMediaPlayer::PlaybackState state) {
                             // Stopping without an end-of-media status still ends the sound.
                             if (generation == m_generation && state == QMediaPlayer::StoppedState && m_playing) {
                                 if (m_media->error() != QMediaPlayer::NoError)
                                     failed(m_media->errorString());
                                 else
                                     finished();
                             }
                         });
        media->setSource(QUrl::fromLocalFile(QFileInfo(m_fileName).absoluteFilePath()));
        return Result::Ok;
    }

    Result play(bool notify)
    {
        if (!m_media)
            return Result::NotOpen;
        if (m_failed || m_media->mediaStatus() == QMediaPlayer::InvalidMedia
            || m_media->error() != QMediaPlayer::NoError)
            return Result::CannotPlay;
        if (m_notifyPending)
            post(NotifySuperseded);
        m_notifyPending = notify;
        m_playing = true;
        m_media->play();
        return Result::Ok;
    }

    Result stop()
    {
        if (!m_media)
            return Result::NotOpen;
        const bool wasPlaying = m_playing;
        m_playing = false;
        if (wasPlaying && !m_failed)
            m_media->pause();
        if (m_notifyPending) {
            m_notifyPending = false;
            post(NotifyAborted);
        }
        return Result::Ok;
    }

    void finished()
    {
        if (!m_playing)
            return;
        m_playing = false;
        if (std::exchange(m_notifyPending, false))
            post(NotifySuccessful);
    }

    void failed(const QString &why)
    {
        if (m_failed)
            return;
        qCInfo(lcPlayer) << "player error" << m_fileName << why;
        m_failed = true;
        m_playing = false;
        if (std::exchange(m_notifyPending, false))
            post(NotifyFailure);
    }

    // Notices go through the event loop so that no handler runs inside a
    // command; the generation drops those of a file closed in between.
    void post(int code)
    {
        const quint64 generation = m_generation;
        QMetaObject::invokeMethod(
            &m_context,
            [this, generation, code] {
                if (generation == m_generation && m_handler)
                    m_handler(code);
            },
            Qt::QueuedConnection);
    }

    void release()
    {
        ++m_generation;
        m_playing = false;
        m_failed = false;
        m_notifyPending = false;
        if (m_media) {
            m_media->disconnect(&m_context);
            // Deleted at once so that thousands of chimes leave no pipelines behind.
            m_media.reset();
            m_audio.reset();
        }
    }

    QString m_deviceType;
    QString m_fileName;
    CompletionHandler m_handler;
    QObject m_context;
    std::unique_ptr<QMediaPlayer> m_media;
    std::unique_ptr<QAudioOutput> m_audio;
    quint64 m_generation = 0;
    bool m_notifyNext = false;
    bool m_notifyPending = false;
    bool m_playing = false;
    bool m_failed = false;
};

} // namespace

QString describe(ChimePlayer::Result result)
{
    switch (result) {
    case ChimePlayer::Result::Ok: return QStringLiteral("ok");
    case ChimePlayer::Result::UnknownCommand: return QStringLiteral("unknown command");
    case ChimePlayer::Result::UnsupportedDeviceType: return QStringLiteral("unsupported device type");
    case ChimePlayer::Result::CannotOpenFile: return QStringLiteral("cannot open file");
    case ChimePlayer::Result::NotOpen: return QStringLiteral("no file open");
    case ChimePlayer::Result::CannotPlay: return QStringLiteral("cannot play");
    }
    return QStringLiteral("unknown result");
}

std::unique_ptr<ChimePlayer> makeChimePlayer()
{
    return std::make_unique<QtChimePlayer>();
}
