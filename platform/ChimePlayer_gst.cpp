#include "ChimePlayer.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QObject>
#include <QTimer>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

#include <gst/gst.h>
#include <malloc.h>

namespace {

Q_LOGGING_CATEGORY(lcPlayer, "tintarel.chimes", QtWarningMsg)

// How long the sound back end may take to answer: to carry out one command,
// or to start playing once asked. A sound server that answers slower than
// this is taken as gone, and the sound as failed.
constexpr int AnswerBoundMs = 3000;
// How long the end of the program waits for the back end to let go.
constexpr int ExitWaitMs = 300;

// The length of the MPEG audio frame whose header starts at `h`, or 0 when
// these four bytes are no frame header.
int mpegFrameLength(const uchar *h)
{
    static const int bitrates[2][3][15] = {
        {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
         {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
         {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
        {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}}};
    static const int rates[3] = {44100, 48000, 32000};
    const int version = (h[1] >> 3) & 3; // 3: MPEG-1, 2: MPEG-2, 0: MPEG-2.5
    const int layer = 4 - ((h[1] >> 1) & 3);
    const int bitrateIndex = h[2] >> 4;
    const int rateIndex = (h[2] >> 2) & 3;
    if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0 || version == 1 || layer == 4 || bitrateIndex == 0 ||
        bitrateIndex == 15 || rateIndex == 3)
        return 0;
    const bool mpeg1 = version == 3;
    const int bitrate = bitrates[mpeg1 ? 0 : 1][layer - 1][bitrateIndex] * 1000;
    const int rate = rates[rateIndex] >> (version == 3 ? 0 : version == 2 ? 1 : 2);
    const int padding = (h[2] >> 1) & 1;
    if (layer == 1)
        return (12 * bitrate / rate + padding) * 4;
    return (layer == 3 && !mpeg1 ? 72 : 144) * bitrate / rate + padding;
}

// An MP3 file begins with an ID3v2 tag or a frame, and a frame is followed
// by another. The decoder alone would take random bytes for sound.
bool looksLikeMp3(QFile &file)
{
    QByteArray head = file.read(10);
    qint64 start = 0;
    if (head.size() == 10 && head.startsWith("ID3")) {
        const auto *b = reinterpret_cast<const uchar *>(head.constData());
        start = 10 + ((b[6] & 0x7F) << 21 | (b[7] & 0x7F) << 14 | (b[8] & 0x7F) << 7 | (b[9] & 0x7F));
    }
    if (!file.seek(start))
        return false;
    const QByteArray frames = file.read(8192);
    const auto *b = reinterpret_cast<const uchar *>(frames.constData());
    const int first = frames.size() >= 4 ? mpegFrameLength(b) : 0;
    return first > 0 && first + 4 <= frames.size() && mpegFrameLength(b + first) > 0;
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

qint64 monotonicMs()
{
    return QDeadlineTimer::current().deadline();
}

// The sound server's stream, named so that the desktop's mixer lists the
// clock by name and icon; its media name comes with the sound (makePipeline). No media role: a role files the stream's volume
// under that role for every program (the "event" role under the alert
// volume), where the user should set the clock's volume on its own; and
// streams without a role are never corked for a call.
GstElement *makeSoundServerSink()
{
    GstElement *sink = gst_element_factory_make("pulsesink", nullptr);
    if (!sink)
        return nullptr;
    GstStructure *props = gst_structure_new("props", "application.name", G_TYPE_STRING, "Tintarel",
                                            "application.icon_name", G_TYPE_STRING, "tintarel", nullptr);
    g_object_set(sink, "client-name", "Tintarel", "stream-properties", props, nullptr);
    gst_structure_free(props);
    return sink;
}

// `sink` owned and opened, or nullptr when it cannot be.
GstElement *opened(GstElement *sink)
{
    if (!sink)
        return nullptr;
    gst_object_ref_sink(sink);
    if (gst_element_set_state(sink, GST_STATE_READY) == GST_STATE_CHANGE_SUCCESS)
        return sink;
    gst_element_set_state(sink, GST_STATE_NULL);
    gst_object_unref(sink);
    return nullptr;
}

// The sound server's sink when a server answers; else the sound card
// itself; else a silent sink that keeps time, so that a chime still runs its
// course with no sound at all. Not every sink there is: a JACK client left
// waiting on a lock by a killed program never answers again, and OSS is
// gone from desktops.
GstElement *makeSink()
{
    if (GstElement *sink = opened(makeSoundServerSink()))
        return sink;
    if (GstElement *sink = opened(gst_element_factory_make("alsasink", nullptr)))
        return sink;
    GstElement *sink = gst_element_factory_make("fakesink", nullptr);
    if (sink)
        g_object_set(sink, "sync", TRUE, nullptr);
    return sink ? GST_ELEMENT(gst_object_ref_sink(sink)) : nullptr;
}

// A fixed MP3 decoding chain: no type finding and no decoder search, which
// keep a good deal of the plug-in registry in memory for the life of the clock.
GstElement *makePipeline(const QByteArray &path)
{
    const char *chain[] = {"filesrc", "mpegaudioparse", "mpg123audiodec", "audioconvert", "audioresample"};
    GstElement *pipeline = gst_pipeline_new(nullptr);
    GstElement *previous = nullptr;
    bool linked = true;
    for (const char *name : chain) {
        GstElement *element = gst_element_factory_make(name, nullptr);
        if (!element) {
            linked = false;
            break;
        }
        gst_bin_add(GST_BIN(pipeline), element);
        if (!previous)
            g_object_set(element, "location", path.constData(), nullptr);
        else
            linked = linked && gst_element_link(previous, element);
        previous = element;
    }
    GstElement *sink = linked ? makeSink() : nullptr;
    if (sink) {
        gst_bin_add(GST_BIN(pipeline), sink);
        linked = gst_element_link(previous, sink);
        // The sound server's stream takes its media name from a title tag,
        // given with the first sound that reaches the sink.
        GstPad *pad = gst_element_get_static_pad(sink, "sink");
        gst_pad_add_probe(
            pad, GST_PAD_PROBE_TYPE_BUFFER,
            [](GstPad *pad, GstPadProbeInfo *, gpointer) {
                gst_pad_send_event(pad, gst_event_new_tag(gst_tag_list_new(GST_TAG_TITLE, "Carillon", nullptr)));
                return GST_PAD_PROBE_REMOVE;
            },
            nullptr, nullptr);
        gst_object_unref(pad);
        gst_object_unref(sink);
    }
    if (!sink || !linked) {
        gst_object_unref(pipeline);
        return nullptr;
    }
    return GST_ELEMENT(gst_object_ref_sink(pipeline));
}

class GstChimePlayer;

// What the player, its worker thread and GStreamer's threads share. Every
// GStreamer call runs on the worker, so that a sound server that stops
// answering holds up that thread and never the event loop. The worker
// outlives the player when a call never returns: the program can still end.
struct Shared
{
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void()>> jobs;
    bool quit = false;
    bool exited = false;
    // Set while the player lives; events sent to it go with it.
    QObject *context = nullptr;
    GstChimePlayer *player = nullptr;
    // When the job in hand started, or -1 while the worker waits.
    std::atomic<qint64> jobStartedMs{-1};
    // Worker only.
    GstElement *pipeline = nullptr;

    void run()
    {
        std::unique_lock lock(mutex);
        for (;;) {
            wake.wait(lock, [this] { return quit || !jobs.empty(); });
            if (jobs.empty())
                break;
            std::function<void()> job = std::move(jobs.front());
            jobs.pop_front();
            jobStartedMs = monotonicMs();
            lock.unlock();
            job();
            lock.lock();
            jobStartedMs = -1;
        }
        exited = true;
        wake.notify_all();
    }

    void post(std::function<void()> job)
    {
        std::lock_guard lock(mutex);
        jobs.push_back(std::move(job));
        wake.notify_all();
    }

    // Hands an event over to the player on the event loop, if it still lives.
    template <typename Step>
    void toPlayer(Step step)
    {
        std::lock_guard lock(mutex);
        if (!context)
            return;
        GstChimePlayer *target = player;
        QMetaObject::invokeMethod(context, [target, step] { step(*target); }, Qt::QueuedConnection);
    }
};

// A fixed GStreamer pipeline per "Open", driven straight rather than through
// a multimedia framework: one that keeps every tag message it is sent grows
// by a few kilobytes each chime, which a clock left running for weeks cannot
// afford. A pipeline is never reused after it has failed; "Close" and the
// next "Open" tear it down.
class GstChimePlayer final : public ChimePlayer
{
public:
    GstChimePlayer() : m_shared(std::make_shared<Shared>())
    {
        m_shared->context = &m_context;
        m_shared->player = this;
        m_worker = std::thread([shared = m_shared] { shared->run(); });
        m_answerTimer.setSingleShot(true);
        QObject::connect(&m_answerTimer, &QTimer::timeout, &m_context, [this] { checkAnswer(); });
    }

    ~GstChimePlayer() override
    {
        release();
        std::unique_lock lock(m_shared->mutex);
        m_shared->context = nullptr;
        m_shared->player = nullptr;
        m_shared->quit = true;
        m_shared->wake.notify_all();
        // A back end stuck in a call keeps its thread; the program ends anyway.
        if (m_shared->wake.wait_for(lock, std::chrono::milliseconds(ExitWaitMs), [this] { return m_shared->exited; })) {
            lock.unlock();
            m_worker.join();
        } else {
            qCWarning(lcPlayer) << "sound back end not answering; left behind";
            m_worker.detach();
        }
    }

    void setDeviceType(const QString &deviceType) override { m_deviceType = deviceType; }
    QString deviceType() const override { return m_deviceType; }
    void setFileName(const QString &fileName) override { m_fileName = fileName; }
    QString fileName() const override { return m_fileName; }
    void setNotify(bool notify) override { m_notifyNext = notify; }
    void setCompletionHandler(CompletionHandler handler) override { m_handler = std::move(handler); }

    void prepare() override
    {
        // The library and the plug-ins load with the first pipeline made;
        // throw-away elements bring them in.
        m_shared->post([] {
            if (!gstreamerReady())
                return;
            for (const char *name : {"filesrc", "mpegaudioparse", "mpg123audiodec", "audioconvert", "audioresample",
                                     "pulsesink", "alsasink", "fakesink"})
                if (GstElement *element = gst_element_factory_make(name, nullptr))
                    gst_object_unref(gst_object_ref_sink(element));
        });
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
    // Whether the worker has been held up in one call beyond the bound.
    bool backEndStuck() const
    {
        const qint64 started = m_shared->jobStartedMs;
        return started >= 0 && monotonicMs() - started > AnswerBoundMs;
    }

    // Runs on GStreamer's threads: only hands the news over to the event loop.
    static GstBusSyncReply onBusMessage(GstBus *, GstMessage *message, gpointer data)
    {
        const auto *link = static_cast<const BusLink *>(data);
        enum { None, Started, Ended, Failed } news = None;
        QString why;
        switch (GST_MESSAGE_TYPE(message)) {
        case GST_MESSAGE_EOS:
            news = Ended;
            break;
        case GST_MESSAGE_ERROR: {
            GError *error = nullptr;
            gst_message_parse_error(message, &error, nullptr);
            why = QString::fromUtf8(error && error->message ? error->message : "unknown error");
            g_clear_error(&error);
            news = Failed;
            break;
        }
        case GST_MESSAGE_STATE_CHANGED:
            if (GST_MESSAGE_SRC(message) == GST_OBJECT(link->pipeline)) {
                GstState state = GST_STATE_VOID_PENDING;
                gst_message_parse_state_changed(message, nullptr, &state, nullptr);
                if (state == GST_STATE_PLAYING)
                    news = Started;
            }
            break;
        default:
            break;
        }
        // Tags and the rest are not wanted. A handler that drops a message
        // owns it, so nothing piles up on the bus either.
        gst_message_unref(message);
        if (news != None)
            link->shared->toPlayer([generation = link->generation, news, why](GstChimePlayer &player) {
                if (generation != player.m_generation)
                    return;
                if (news == Started)
                    player.m_startAwaited = false;
                else if (news == Ended)
                    player.finished();
                else
                    player.failed(why);
            });
        return GST_BUS_DROP;
    }

    struct BusLink
    {
        std::shared_ptr<Shared> shared;
        GstElement *pipeline;
        quint64 generation;
    };

    Result open()
    {
        release();
        if (!m_deviceType.isEmpty() && m_deviceType.compare(QLatin1String("MPEGVideo"), Qt::CaseInsensitive) != 0)
            return Result::UnsupportedDeviceType;
        // Opening proves readability where permission bits cannot (root ignores them).
        QFile file(m_fileName);
        if (m_fileName.isEmpty() || !QFileInfo(m_fileName).isFile() || !file.open(QIODevice::ReadOnly)) {
            qCInfo(lcPlayer) << "player cannot open" << m_fileName;
            return Result::CannotOpenFile;
        }
        // A pipeline that never came down holds the back end: no other is
        // made until it does, so that a hung server piles nothing up.
        if (backEndStuck()) {
            qCInfo(lcPlayer) << "sound back end not answering";
            return Result::NotAnswering;
        }

        m_open = true;
        m_failed = false;
        m_playing = false;
        if (!looksLikeMp3(file)) {
            // Open, as far as the caller can tell, but nothing it could ever play.
            failed(QStringLiteral("not an MP3 file"));
            return Result::Ok;
        }
        const quint64 generation = m_generation;
        const QByteArray path = QFile::encodeName(QFileInfo(m_fileName).absoluteFilePath());
        m_shared->post([shared = m_shared, generation, path] {
            GstElement *pipeline = gstreamerReady() ? makePipeline(path) : nullptr;
            if (!pipeline) {
                // Open, as far as the caller can tell, but nothing it could ever play.
                shared->toPlayer([generation](GstChimePlayer &player) {
                    if (generation == player.m_generation)
                        player.failed(QStringLiteral("no MP3 decoder or no sink"));
                });
                return;
            }
            shared->pipeline = pipeline;
            GstBus *bus = gst_element_get_bus(pipeline);
            gst_bus_set_sync_handler(bus, &GstChimePlayer::onBusMessage, new BusLink{shared, pipeline, generation},
                                     [](gpointer data) { delete static_cast<BusLink *>(data); });
            gst_object_unref(bus);
            // Loaded and paused at its start now, so that "Play" starts at
            // once and a file that cannot be decoded is known early.
            if (gst_element_set_state(pipeline, GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE)
                shared->toPlayer([generation](GstChimePlayer &player) {
                    if (generation == player.m_generation)
                        player.failed(QStringLiteral("cannot load"));
                });
        });
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
        m_startAwaited = true;
        m_answerTimer.start(AnswerBoundMs);
        const bool fromStart = std::exchange(m_atEnd, false);
        const quint64 generation = m_generation;
        m_shared->post([shared = m_shared.get(), generation, fromStart] {
            GstElement *pipeline = shared->pipeline;
            if (!pipeline)
                return;
            // A file played to its end starts again from its beginning.
            if (fromStart)
                gst_element_seek_simple(pipeline, GST_FORMAT_TIME,
                                        GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_KEY_UNIT), 0);
            const GstStateChangeReturn change = gst_element_set_state(pipeline, GST_STATE_PLAYING);
            GstState state = GST_STATE_VOID_PENDING;
            GstState pending = GST_STATE_VOID_PENDING;
            gst_element_get_state(pipeline, &state, &pending, 0);
            const bool failed = change == GST_STATE_CHANGE_FAILURE;
            const bool started = state == GST_STATE_PLAYING && pending == GST_STATE_VOID_PENDING;
            if (failed || started)
                shared->toPlayer([generation, failed](GstChimePlayer &player) {
                    if (generation != player.m_generation)
                        return;
                    if (failed)
                        player.failed(QStringLiteral("cannot play"));
                    else
                        player.m_startAwaited = false;
                });
        });
        return Result::Ok;
    }

    Result stop()
    {
        if (!m_open)
            return Result::NotOpen;
        const bool wasPlaying = m_playing;
        m_playing = false;
        m_startAwaited = false;
        if (wasPlaying && !m_failed)
            m_shared->post([shared = m_shared.get()] {
                if (shared->pipeline)
                    gst_element_set_state(shared->pipeline, GST_STATE_PAUSED);
            });
        if (m_notifyPending) {
            m_notifyPending = false;
            post(NotifyAborted);
        }
        return Result::Ok;
    }

    // A sound asked to play that has not started within the bound has failed.
    void checkAnswer()
    {
        if (m_open && !m_failed && m_playing && m_startAwaited)
            failed(QStringLiteral("the sound back end does not answer"));
    }

    void finished()
    {
        if (!m_playing)
            return;
        m_playing = false;
        m_atEnd = true;
        m_startAwaited = false;
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
        m_startAwaited = false;
        if (std::exchange(m_notifyPending, false))
            post(NotifyFailure);
    }

    // Sends a notice from the event loop, unless the file was closed in
    // between: no handler runs inside a command, and nothing of a closed
    // file reaches the next one.
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
        m_answerTimer.stop();
        const bool wasOpen = std::exchange(m_open, false);
        m_playing = false;
        m_failed = false;
        m_atEnd = false;
        m_startAwaited = false;
        m_notifyPending = false;
        if (!wasOpen)
            return;
        // Stopped for good before it goes: its threads are joined there, so
        // thousands of chimes leave nothing behind. That can hang with a
        // hung sound server, so it happens on the worker.
        m_shared->post([shared = m_shared.get()] {
            GstElement *pipeline = std::exchange(shared->pipeline, nullptr);
            if (!pipeline)
                return;
            gst_element_set_state(pipeline, GST_STATE_NULL);
            GstBus *bus = gst_element_get_bus(pipeline);
            gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
            gst_object_unref(bus);
            gst_object_unref(pipeline);
            // A pipeline frees its buffers in the arenas of its own threads,
            // where the allocator keeps them; a clock that runs for weeks
            // hands them back.
            malloc_trim(0);
        });
    }

    QString m_deviceType;
    QString m_fileName;
    CompletionHandler m_handler;
    QObject m_context;
    QTimer m_answerTimer;
    std::shared_ptr<Shared> m_shared;
    std::thread m_worker;
    quint64 m_generation = 0;
    bool m_open = false;
    bool m_notifyNext = false;
    bool m_notifyPending = false;
    bool m_playing = false;
    bool m_failed = false;
    bool m_atEnd = false;
    bool m_startAwaited = false;
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
    case ChimePlayer::Result::NotAnswering: return QStringLiteral("sound back end not answering");
    }
    return QStringLiteral("unknown result");
}

std::unique_ptr<ChimePlayer> makeChimePlayer()
{
    return std::make_unique<GstChimePlayer>();
}
