#include "ChimePlayer.h"

#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QObject>
#include <utility>

#include <gst/gst.h>
#include <malloc.h>

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

bool gstreamerReady()
{
    static const bool ready = [] {
        GError *error = nullptr;
        if (gst_init_check(nullptr, nullptr, &error))
            return true;
        qCWarning(lcPlayer) << "sound back end unavailable:" << (error ? error->message : "unknown reason");
        g_clear_error(&error);
        return false;
    }();
    return ready;
}

// playbin's flag for audio; the others (video, subtitles, visualisation) stay off.
constexpr guint PlayAudioOnly = 0x2;

// A GStreamer playbin per "Open", driven straight rather than through a
// multimedia framework: one that keeps every tag message it is sent grows
// by a few kilobytes each chime, which a clock left running for weeks cannot
// afford. A pipeline is never reused after it has failed; "Close" and the
// next "Open" tear it down at once.
class GstChimePlayer final : public ChimePlayer
{
public:
    ~GstChimePlayer() override { release(); }

    void setDeviceType(const QString &deviceType) override { m_deviceType = deviceType; }
    QString deviceType() const override { return m_deviceType; }
    void setFileName(const QString &fileName) override { m_fileName = fileName; }
    QString fileName() const override { return m_fileName; }
    void setNotify(bool notify) override { m_notifyNext = notify; }
    void setCompletionHandler(CompletionHandler handler) override { m_handler = std::move(handler); }

    void prepare() override
    {
        // The library and its plug-in registry load with the first pipeline
        // made; a throw-away one brings them in.
        if (!gstreamerReady())
            return;
        if (GstElement *pipeline = gst_element_factory_make("playbin", nullptr))
            gst_object_unref(gst_object_ref_sink(pipeline));
    }

    int mode() const override
    {
        if (!m_open)
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
    // What the bus handler needs, owned by the bus. The handler runs on
    // GStreamer's threads, so it only hands the message over to the event
    // loop; release() stops those threads before the player goes.
    struct BusLink
    {
        QObject *context;
        GstChimePlayer *player;
        quint64 generation;
    };

    static GstBusSyncReply onBusMessage(GstBus *, GstMessage *message, gpointer data)
    {
        const auto *link = static_cast<const BusLink *>(data);
        bool ended = false;
        QString why;
        switch (GST_MESSAGE_TYPE(message)) {
        case GST_MESSAGE_EOS:
            ended = true;
            break;
        case GST_MESSAGE_ERROR: {
            GError *error = nullptr;
            gst_message_parse_error(message, &error, nullptr);
            why = QString::fromUtf8(error && error->message ? error->message : "unknown error");
            g_clear_error(&error);
            break;
        }
        default:
            break;
        }
        // Tags, state changes and the rest are not wanted. A handler that
        // drops a message owns it, so nothing piles up on the bus either.
        gst_message_unref(message);
        if (!ended && why.isNull())
            return GST_BUS_DROP;
        GstChimePlayer *player = link->player;
        const quint64 generation = link->generation;
        QMetaObject::invokeMethod(
            link->context,
            [player, generation, ended, why] {
                if (generation != player->m_generation)
                    return;
                if (ended)
                    player->finished();
                else
                    player->failed(why);
            },
            Qt::QueuedConnection);
        return GST_BUS_DROP;
    }

    Result open()
    {
        release();
        if (!m_deviceType.isEmpty() && m_deviceType.compare(QLatin1String("MPEGVideo"), Qt::CaseInsensitive) != 0)
            return Result::UnsupportedDeviceType;
        if (!isReadableFile(m_fileName)) {
            qCInfo(lcPlayer) << "player cannot open" << m_fileName;
            return Result::CannotOpenFile;
        }

        m_open = true;
        m_failed = false;
        m_playing = false;
        m_pipeline = gstreamerReady() ? gst_element_factory_make("playbin", nullptr) : nullptr;
        if (!m_pipeline) {
            // Open, as far as the caller can tell, but nothing it could ever play.
            failed(QStringLiteral("no playbin element"));
            return Result::Ok;
        }
        gst_object_ref_sink(m_pipeline);
        gchar *uri = gst_filename_to_uri(QFile::encodeName(QFileInfo(m_fileName).absoluteFilePath()).constData(),
                                         nullptr);
        g_object_set(m_pipeline, "uri", uri, "flags", PlayAudioOnly, nullptr);
        g_free(uri);

        GstBus *bus = gst_element_get_bus(m_pipeline);
        gst_bus_set_sync_handler(bus, &GstChimePlayer::onBusMessage, new BusLink{&m_context, this, m_generation},
                                 [](gpointer data) { delete static_cast<BusLink *>(data); });
        gst_object_unref(bus);
        // Loaded and paused at its start now, so that "Play" starts at once
        // and a file that cannot be decoded is known as early as can be.
        if (gst_element_set_state(m_pipeline, GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE)
            postFailure(QStringLiteral("cannot load"));
        return Result::Ok;
    }

    Result play(bool notify)
    {
        if (!m_open)
            return Result::NotOpen;
        if (m_failed)
            return Result::CannotPlay;
        if (m_notifyPending)
            post(NotifySuperseded);
        m_notifyPending = notify;
        m_playing = true;
        // A file played to its end starts again from its beginning.
        if (std::exchange(m_atEnd, false))
            gst_element_seek_simple(m_pipeline, GST_FORMAT_TIME,
                                    GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_KEY_UNIT), 0);
        if (gst_element_set_state(m_pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE)
            postFailure(QStringLiteral("cannot play"));
        return Result::Ok;
    }

    Result stop()
    {
        if (!m_open)
            return Result::NotOpen;
        const bool wasPlaying = m_playing;
        m_playing = false;
        if (wasPlaying && !m_failed)
            gst_element_set_state(m_pipeline, GST_STATE_PAUSED);
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
        m_atEnd = true;
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

    // Runs `step` from the event loop, unless the file was closed in between:
    // no handler runs inside a command, and nothing of a closed file reaches
    // the next one.
    template <typename Step>
    void later(Step step)
    {
        const quint64 generation = m_generation;
        QMetaObject::invokeMethod(
            &m_context,
            [this, generation, step] {
                if (generation == m_generation)
                    step();
            },
            Qt::QueuedConnection);
    }

    // A state change refused on the spot posts its error on the bus too;
    // this makes sure of a failure even where it does not.
    void postFailure(const QString &why)
    {
        later([this, why] { failed(why); });
    }

    void post(int code)
    {
        later([this, code] {
            if (m_handler)
                m_handler(code);
        });
    }

    void release()
    {
        ++m_generation;
        m_open = false;
        m_playing = false;
        m_failed = false;
        m_atEnd = false;
        m_notifyPending = false;
        if (m_pipeline) {
            // Stopped for good before it goes: its threads are joined here,
            // so thousands of chimes leave nothing behind.
            gst_element_set_state(m_pipeline, GST_STATE_NULL);
            GstBus *bus = gst_element_get_bus(m_pipeline);
            gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
            gst_object_unref(bus);
            gst_object_unref(m_pipeline);
            m_pipeline = nullptr;
            // A pipeline frees its buffers in the arenas of its own threads,
            // where the allocator keeps them; a clock that runs for weeks
            // hands them back (a tenth of a millisecond).
            malloc_trim(0);
        }
    }

    QString m_deviceType;
    QString m_fileName;
    CompletionHandler m_handler;
    QObject m_context;
    GstElement *m_pipeline = nullptr;
    quint64 m_generation = 0;
    bool m_open = false;
    bool m_notifyNext = false;
    bool m_notifyPending = false;
    bool m_playing = false;
    bool m_failed = false;
    bool m_atEnd = false;
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
    return std::make_unique<GstChimePlayer>();
}
