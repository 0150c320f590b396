#include "IniSettingsStore.h"

#include "FileLock.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QStringDecoder>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

QByteArrayView trimmed(QByteArrayView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;
    return text.sliced(begin, end - begin);
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Bytes as UTF-8 when they are valid UTF-8, else as Latin-1, which is what an
// older editor writes.
QString decodeText(QByteArrayView bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (utf8.hasError())
        text = QString::fromLatin1(bytes);
    return text;
}

// A section or key name: %XX stands for a Latin-1 character and %UXXXX for
// any other, as the programs have always written them.
QString decodeName(QByteArrayView raw)
{
    QString name;
    QByteArray run;
    const auto flush = [&] {
        name += decodeText(run);
        run.clear();
    };
    for (qsizetype i = 0; i < raw.size(); ++i) {
        if (raw[i] == '%' && i + 5 < raw.size() && raw[i + 1] == 'U') {
            int code = 0;
            bool hex = true;
            for (int d = 2; d < 6 && hex; ++d) {
                const int v = hexValue(raw[i + d]);
                hex = v >= 0;
                code = code * 16 + v;
            }
            if (hex) {
                flush();
                name += QChar(char16_t(code));
                i += 5;
                continue;
            }
        }
        if (raw[i] == '%' && i + 2 < raw.size() && hexValue(raw[i + 1]) >= 0 && hexValue(raw[i + 2]) >= 0) {
            flush();
            name += QChar(char16_t(hexValue(raw[i + 1]) * 16 + hexValue(raw[i + 2])));
            i += 2;
            continue;
        }
        run += raw[i];
    }
    flush();
    return name;
}

QByteArray encodeName(const QString &name)
{
    static const char hex[] = "0123456789ABCDEF";
    QByteArray out;
    for (const QChar c : name) {
        const char16_t u = c.unicode();
        if ((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '_' || u == '-'
            || u == '.') {
            out += char(u);
        } else if (u <= 0xFF) {
            out += '%';
            out += hex[u >> 4];
            out += hex[u & 15];
        } else {
            out += "%U";
            for (int shift = 12; shift >= 0; shift -= 4)
                out += hex[(u >> shift) & 15];
        }
    }
    return out;
}

// A value in double quotes may hold any text, with backslash escapes;
// anything else is the text as it stands.
QString decodeValue(QByteArrayView raw)
{
    if (raw.size() < 2 || raw.front() != '"' || raw.back() != '"')
        return QString::fromUtf8(raw);
    QByteArray bytes;
    for (qsizetype i = 1; i + 1 < raw.size(); ++i) {
        if (raw[i] != '\\' || i + 2 >= raw.size()) {
            bytes += raw[i];
            continue;
        }
        const char c = raw[++i];
        switch (c) {
        case 'n': bytes += '\n'; break;
        case 'r': bytes += '\r'; break;
        case 't': bytes += '\t'; break;
        case '\\': bytes += '\\'; break;
        case '"': bytes += '"'; break;
        case 'x':
            if (i + 3 < raw.size() && hexValue(raw[i + 1]) >= 0 && hexValue(raw[i + 2]) >= 0) {
                bytes += char(hexValue(raw[i + 1]) * 16 + hexValue(raw[i + 2]));
                i += 2;
                break;
            }
            Q_FALLTHROUGH();
        default: bytes += '\\'; bytes += c;
        }
    }
    return QString::fromUtf8(bytes);
}

QByteArray encodeValue(const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    bool plain = utf8.isEmpty() || (!isBlank(utf8.front()) && !isBlank(utf8.back()) && utf8.front() != '"');
    for (const char c : utf8)
        plain = plain && (uchar(c) >= 0x20 && c != 0x7F);
    if (plain)
        return utf8;
    QByteArray out = "\"";
    for (const char c : utf8) {
        switch (c) {
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '\\': out += "\\\\"; break;
        case '"': out += "\\\""; break;
        default:
            if (uchar(c) < 0x20 || c == 0x7F)
                out += "\\x" + QByteArray::number(uchar(c) | 0x100, 16).mid(1);
            else
                out += c;
        }
    }
    return out + '"';
}

// Where a key is in the file's text, and where a new one of its section goes.
struct Scan
{
    qsizetype valueStart = -1; // -1: no such key
    qsizetype valueEnd = -1;
    qsizetype insertAt = -1; // -1: no such section
};

Scan scan(const QByteArray &text, const QString &section, const QString &key)
{
    Scan found;
    bool inSection = false;
    bool inFirstSection = false;
    qsizetype start = text.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    while (start < text.size()) {
        qsizetype newline = text.indexOf('\n', start);
        const qsizetype next = newline < 0 ? text.size() : newline + 1;
        qsizetype end = newline < 0 ? text.size() : newline;
        if (end > start && text[end - 1] == '\r')
            --end;
        const QByteArrayView line = trimmed(QByteArrayView(text).sliced(start, end - start));
        if (line.isEmpty() || line.front() == '#' || line.front() == ';') {
            // a blank line or a comment
        } else if (line.front() == '[') {
            qsizetype close = line.indexOf(']');
            if (close < 0)
                close = line.size();
            inSection = decodeName(trimmed(line.sliced(1, close - 1))).compare(section, Qt::CaseInsensitive) == 0;
            inFirstSection = inSection && found.insertAt < 0;
            if (inFirstSection)
                found.insertAt = next;
        } else if (const qsizetype equals = line.indexOf('='); equals >= 0 && inSection) {
            if (inFirstSection)
                found.insertAt = next;
            if (found.valueStart < 0
                && decodeName(trimmed(line.first(equals))).compare(key, Qt::CaseInsensitive) == 0) {
                const QByteArrayView value = trimmed(line.sliced(equals + 1));
                found.valueStart = value.data() - text.constData();
                found.valueEnd = found.valueStart + value.size();
            }
        }
        start = next;
    }
    return found;
}

QByteArray lineEnding(const QByteArray &text)
{
    const qsizetype newline = text.indexOf('\n');
    return newline > 0 && text[newline - 1] == '\r' ? QByteArray("\r\n") : QByteArray("\n");
}

// The file's text with one key set: its line changed in place, or a new
// line at the end of the first section of that name, or a new section.
QByteArray withValue(const QByteArray &text, const QString &section, const QString &key, const QString &value)
{
    const Scan found = scan(text, section, key);
    if (found.valueStart >= 0)
        return text.left(found.valueStart) + encodeValue(value) + text.mid(found.valueEnd);
    const QByteArray eol = lineEnding(text);
    const QByteArray line = encodeName(key) + '=' + encodeValue(value) + eol;
    const bool endsOpen = !text.isEmpty() && !text.endsWith('\n');
    if (found.insertAt >= 0) {
        const QByteArray before = text.left(found.insertAt);
        return before + (found.insertAt == text.size() && endsOpen ? eol : QByteArray()) + line
            + text.mid(found.insertAt);
    }
    QByteArray out = text;
    if (endsOpen)
        out += eol;
    if (!out.isEmpty() && out != "\xEF\xBB\xBF" && !out.endsWith(eol + eol) && out != eol)
        out += eol;
    return out + '[' + encodeName(section) + ']' + eol + line;
}

QString reasonOf(int error)
{
    switch (error) {
    case EACCES:
    case EPERM: return QStringLiteral("accès refusé");
    case EROFS: return QStringLiteral("le disque n'accepte que la lecture");
    case ENOSPC:
    case EDQUOT: return QStringLiteral("le disque est plein");
    default: return QString::fromLocal8Bit(std::strerror(error));
    }
}

struct FileRead
{
    int error = 0; // 0, or the errno of the failure; ENOENT when there is no file
    bool regular = true;
    QByteArray bytes;
    struct stat info {};
};

// Without blocking on a FIFO in the file's place, and only a regular file.
FileRead readFile(const QString &path)
{
    FileRead result;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        result.error = errno;
        return result;
    }
    if (::fstat(fd, &result.info) != 0 || !S_ISREG(result.info.st_mode)) {
        result.regular = false;
        ::close(fd);
        return result;
    }
    result.bytes.reserve(qsizetype(result.info.st_size));
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            result.error = errno;
        if (got <= 0)
            break;
        result.bytes.append(buffer, got);
    }
    ::close(fd);
    return result;
}

// The file a path names once its symbolic links are followed, even when the
// last link points at a file that does not exist yet.
QString linkTarget(const QString &path)
{
    QString current = path;
    for (int hops = 0; hops < 40; ++hops) {
        const QFileInfo info(current);
        if (!info.isSymLink())
            return current;
        current = QDir(info.absolutePath()).absoluteFilePath(info.symLinkTarget());
    }
    return current;
}

// A writer killed half-way leaves its scratch copy behind
// ("Tintarel.ini.write-Ab3xYz", perhaps with a suffix of an older build
// after it). The next writer, holding the lock, removes those old enough
// that no live writer can own them.
void removeOrphanedCopies(const QString &filePath)
{
    const QFileInfo info(filePath);
    const QRegularExpression scratch(QStringLiteral("^%1\\.write-[A-Za-z0-9]{6}(\\..*)?$")
                                         .arg(QRegularExpression::escape(info.fileName())));
    const QDateTime old = QDateTime::currentDateTimeUtc().addSecs(-60);
    QDirIterator it(info.absolutePath(), QDir::Files | QDir::Hidden | QDir::System);
    while (it.hasNext()) {
        it.next();
        const QFileInfo entry = it.fileInfo();
        if (scratch.match(entry.fileName()).hasMatch() && entry.lastModified().toUTC() < old)
            QFile::remove(entry.filePath());
    }
}

// Writes all of bytes to a new scratch file beside target and returns its
// name, or the errno of the failure.
int writeScratch(const QString &target, const QByteArray &bytes, mode_t mode, QByteArray *scratch)
{
    *scratch = QFile::encodeName(target) + ".write-XXXXXX";
    const int fd = ::mkstemp(scratch->data());
    if (fd < 0)
        return errno;
    int error = 0;
    const char *data = bytes.constData();
    std::size_t left = std::size_t(bytes.size());
    while (!error && left > 0) {
        const ssize_t written = ::write(fd, data, left);
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0) {
            error = errno;
        } else {
            data += written;
            left -= std::size_t(written);
        }
    }
    if (!error && ::fchmod(fd, mode) != 0)
        error = errno;
    if (!error && ::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && !error)
        error = errno;
    if (error)
        ::unlink(scratch->constData());
    return error;
}

} // namespace

IniSettingsStore::IniSettingsStore(const QString &filePath, FailureNotice notice)
    : m_filePath(filePath), m_notice(std::move(notice))
{
}

QString IniSettingsStore::defaultFilePath()
{
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return base + QStringLiteral("/Tintarel/Tintarel.ini");
}

std::optional<QString> IniSettingsStore::read(const QString &section, const QString &key) const
{
    struct stat info {};
    if (::stat(QFile::encodeName(m_filePath).constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    const long long time = (long long)info.st_mtim.tv_sec * 1000000000 + info.st_mtim.tv_nsec;
    if (info.st_dev != m_cachedDevice || info.st_ino != m_cachedInode || info.st_size != m_cachedSize
        || time != m_cachedTime) {
        const FileRead file = readFile(m_filePath);
        if (file.error || !file.regular)
            return std::nullopt;
        m_cached = file.bytes;
        m_cachedDevice = file.info.st_dev;
        m_cachedInode = file.info.st_ino;
        m_cachedSize = file.info.st_size;
        m_cachedTime = (long long)file.info.st_mtim.tv_sec * 1000000000 + file.info.st_mtim.tv_nsec;
    }
    const Scan found = scan(m_cached, section, key);
    if (found.valueStart < 0)
        return std::nullopt;
    return decodeValue(QByteArrayView(m_cached).sliced(found.valueStart, found.valueEnd - found.valueStart));
}

bool IniSettingsStore::fail(const QString &reason)
{
    m_lastFailure = reason;
    if (!m_told && m_notice)
        m_notice(m_filePath, reason);
    m_told = true;
    return false;
}

bool IniSettingsStore::write(const QString &section, const QString &key, const QString &text)
{
    const QString target = linkTarget(m_filePath);
    const QFileInfo info(target);
    if (!QDir().mkpath(info.absolutePath()))
        return fail(QStringLiteral("le dossier %1 ne peut pas être créé").arg(info.absolutePath()));
    if (info.exists() && !info.isFile())
        return fail(QStringLiteral("ce n'est pas un fichier"));

    // Read-modify-write exclusive between our programs. A write holds the
    // lock for milliseconds; the bound, for a writer held up by its disk,
    // is how long the event loop may wait.
    FileLock lock;
    lock.removeOnRelease();
    if (const int error = lock.acquire(QFile::encodeName(target + QStringLiteral(".writer-lock")), 1000)) {
        if (error == EWOULDBLOCK)
            return fail(QStringLiteral("un autre programme le garde verrouillé"));
        return fail(reasonOf(error));
    }
    removeOrphanedCopies(target);
    if (!writeLocked(target, section, key, text))
        return false;
    m_lastFailure.clear();
    m_told = false;
    return true;
}

bool IniSettingsStore::writeLocked(const QString &target, const QString &section, const QString &key,
                                   const QString &text)
{
    // The change is made to the file as it is on disk now, never to an
    // earlier reading of it: the other program may have written since.
    const FileRead current = readFile(target);
    if (!current.regular)
        return fail(QStringLiteral("ce n'est pas un fichier"));
    if (current.error && current.error != ENOENT)
        return fail(reasonOf(current.error));
    // Whatever it holds is kept, but a file with NUL bytes is no text.
    if (current.bytes.contains('\0'))
        return fail(QStringLiteral("il ne contient pas du texte"));
    const QByteArray wanted = withValue(current.bytes, section, key, text);
    // A file made read-only is left alone, though its folder would let us
    // replace it.
    if (!current.error && ::access(QFile::encodeName(target).constData(), W_OK) != 0)
        return fail(reasonOf(errno));

    const mode_t mode = current.error ? mode_t(0644) : mode_t(current.info.st_mode & 07777);
    QByteArray scratch;
    if (const int error = writeScratch(target, wanted, mode, &scratch))
        return fail(reasonOf(error));
    // Some file systems report a full disk only by what they kept: the copy
    // replaces the file only when it reads back whole.
    const FileRead back = readFile(QFile::decodeName(scratch));
    if (back.error || back.bytes != wanted) {
        ::unlink(scratch.constData());
        return fail(reasonOf(back.error ? back.error : ENOSPC));
    }
    if (::rename(scratch.constData(), QFile::encodeName(target).constData()) != 0) {
        const int error = errno;
        ::unlink(scratch.constData());
        return fail(reasonOf(error));
    }
    return true;
}
