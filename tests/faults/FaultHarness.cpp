#include "FaultHarness.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTest>

#include <cerrno>
#include <cstring>
#include <grp.h>
#include <pwd.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace faults {
namespace {

QString refusal = QStringLiteral("enterPrivateMounts() was not called");

} // namespace

QString enterPrivateMounts()
{
    if (qEnvironmentVariableIntValue("TINTAREL_FAULTS_NO_MOUNTS") == 1)
        refusal = QStringLiteral("TINTAREL_FAULTS_NO_MOUNTS=1");
    else if (::unshare(CLONE_NEWNS) != 0)
        refusal = QStringLiteral("no mount namespace: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
    // Mounts made here must not reach the machine's namespace.
    else if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        refusal = QStringLiteral("mounts not private: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
    else
        refusal.clear();
    return refusal;
}

QString privateMountsRefused()
{
    return refusal;
}

bool bindReadOnly(const QString &path)
{
    const QByteArray p = QFile::encodeName(path);
    if (::mount(p.constData(), p.constData(), nullptr, MS_BIND, nullptr) != 0)
        return false;
    return ::mount(nullptr, p.constData(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
}

bool mountTmpfs(const QString &folder, int kilobytes)
{
    const QByteArray options = "size=" + QByteArray::number(kilobytes) + 'k';
    return ::mount("tmpfs", QFile::encodeName(folder).constData(), "tmpfs", 0, options.constData()) == 0;
}

Mount::~Mount()
{
    if (!m_path.isEmpty())
        ::umount2(QFile::encodeName(m_path).constData(), MNT_DETACH);
}

QStringList asOtherUser()
{
    return {QStringLiteral("setpriv"), QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"),
            QStringLiteral("--clear-groups")};
}

bool otherUserAvailable()
{
    QProcess probe;
    probe.start(asOtherUser().first(), asOtherUser().mid(1) << QStringLiteral("true"));
    return probe.waitForFinished(10000) && probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == 0;
}

void openHomeToOtherUser(const TestHome &home)
{
    const passwd *user = ::getpwnam("nobody");
    const group *nogroup = ::getgrnam("nogroup");
    if (!user || !nogroup)
        return;
    QFile::setPermissions(home.path(), QFile::permissions(home.path()) | QFile::ReadOther | QFile::ExeOther);
    QFile::setPermissions(home.configHome(),
                          QFile::permissions(home.configHome()) | QFile::ReadOther | QFile::ExeOther);
    for (const char *folder : {"data", "cache", "runtime"})
        ::chown(QFile::encodeName(home.path() + QLatin1Char('/') + QLatin1String(folder)).constData(), user->pw_uid,
                nogroup->gr_gid);
}

bool copyProgramFolder(const QString &to)
{
    const QDir source(QStringLiteral(TINTAREL_PROGRAM_DIR));
    for (const QString &name : source.entryList(QDir::Files)) {
        const QString target = to + QLatin1Char('/') + name;
        if (!QFile::copy(source.filePath(name), target)
            || !QFile::setPermissions(target, QFile::permissions(source.filePath(name))))
            return false;
    }
    return true;
}

std::unique_ptr<TestProgram> startClock(const TestHome &home, const QString &display, const ClockOptions &options)
{
    auto clock = std::make_unique<TestProgram>();
    QProcessEnvironment env = home.environment(display);
    env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("tintarel.chimes=true;tintarel.tick=true"));
    if (!options.fakeStart.isEmpty()) {
        env.insert(QStringLiteral("LD_PRELOAD"),
                   QStringLiteral("/usr/lib/x86_64-linux-gnu/faketime/libfaketimeMT.so.1"));
        env.insert(QStringLiteral("FAKETIME"), QLatin1Char('@') + options.fakeStart);
        // Sound needs the real monotonic clock, or a file never ends.
        env.insert(QStringLiteral("FAKETIME_DONT_FAKE_MONOTONIC"), QStringLiteral("1"));
    }
    for (auto it = options.environment.cbegin(); it != options.environment.cend(); ++it)
        env.insert(it.key(), it.value());
    clock->setProcessEnvironment(env);
    clock->setProcessChannelMode(QProcess::MergedChannels);
    const QString program = options.folder + QStringLiteral("/Tintarel");
    if (options.asOtherUser)
        clock->start(asOtherUser().first(), asOtherUser().mid(1) << program);
    else
        clock->start(program, {});
    clock->waitForStarted(10000);
    return clock;
}

bool waitFor(const std::function<bool()> &condition, int milliseconds)
{
    const QDeadlineTimer deadline(milliseconds);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(20);
    }
    return true;
}

std::optional<SeenWindow> toggleActivationAndFindBox(DisplayObserver &observer, const QString &display,
                                                     qint64 pid)
{
    const auto face = observer.faceOf(pid);
    if (!face)
        return std::nullopt;
    const auto xdotool = [&display](const QStringList &arguments) {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), display);
        process.setProcessEnvironment(env);
        process.start(QStringLiteral("xdotool"), arguments);
        return process.waitForFinished(10000) && process.exitCode() == 0;
    };
    const QPoint centre = face->geometry.center();
    if (!xdotool({QStringLiteral("mousemove"), QString::number(centre.x()), QString::number(centre.y()),
                  QStringLiteral("click"), QStringLiteral("3")}))
        return std::nullopt;
    // The menu is a mapped window with the program's name, like the box.
    std::optional<SeenWindow> menu;
    if (!waitFor([&] { return (menu = observer.titledWindowOf(pid, QStringLiteral("Tintarel"), true)).has_value(); },
                 10000))
        return std::nullopt;
    const QRect area = menu->geometry;
    if (!xdotool({QStringLiteral("mousemove"), QString::number(area.center().x()),
                  QString::number(area.bottom() - 10), QStringLiteral("click"), QStringLiteral("1")}))
        return std::nullopt;
    std::optional<SeenWindow> box;
    waitFor(
        [&] {
            for (const SeenWindow &w : observer.windowsOf(pid))
                if (w.mapped && w.title == QLatin1String("Tintarel") && w.id != menu->id)
                    box = w;
            return box.has_value();
        },
        10000);
    return box;
}

std::optional<QMap<QString, QVariant>> settingsOf(const QString &file)
{
    // A path of its own: QSettings would answer from its cache for a file
    // whose size and time have not changed.
    QTemporaryDir copyFolder;
    if (!QFileInfo(file).isFile())
        return std::nullopt;
    const QString copy = copyFolder.filePath(QStringLiteral("read.ini"));
    if (!QFile::copy(file, copy))
        return std::nullopt;
    QSettings settings(copy, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError)
        return std::nullopt;
    QMap<QString, QVariant> values;
    for (const QString &key : settings.allKeys())
        values.insert(key, settings.value(key));
    return values;
}

QByteArray snapshot(const QString &path)
{
    const QFileInfo info(path);
    if (info.isSymLink())
        return "link to " + QFile::encodeName(info.symLinkTarget());
    if (info.isDir())
        return "folder of " + QDir(path).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).join(u' ').toUtf8();
    if (!info.exists())
        return "nothing";
    if (!info.isFile())
        return "neither file nor folder";
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? "file of " + file.readAll() : QByteArray("unreadable file");
}

} // namespace faults
