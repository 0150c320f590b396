#include "Registry.h"

#include "Registry_wallpaper.h"

#include <QByteArray>
#include <QFile>
#include <QList>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <vector>
#include <sys/stat.h>
#include <unistd.h>

namespace reg {
namespace {

const char runKeyPath[] = "software\\microsoft\\windows\\currentversion\\run";
const char desktopKeyPath[] = "control panel\\desktop";

enum class Place { Run, Desktop };

struct OpenKey
{
    Place place;
    std::uint32_t access;
};

bool sameKeyPath(const std::string &path, const char *lowerCasePath)
{
    if (path.size() != std::strlen(lowerCasePath))
        return false;
    for (std::size_t i = 0; i < path.size(); ++i) {
        const char c = path[i];
        const char lower = (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
        if (lower != lowerCasePath[i])
            return false;
    }
    return true;
}

bool isPredefined(HKEY key)
{
    switch (key) {
    case HKEY_CLASSES_ROOT:
    case HKEY_CURRENT_USER:
    case HKEY_LOCAL_MACHINE:
    case HKEY_USERS:
    case HKEY_CURRENT_CONFIG:
    case HKEY_DYN_DATA:
        return true;
    default:
        return false;
    }
}

long codeFromErrno(int error, long otherwise)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
        return ERROR_ACCESS_DENIED;
    case ENOSPC:
    case EDQUOT:
        return ERROR_DISK_FULL;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    default:
        return otherwise;
    }
}

// The autostart folders in the order the session reads them: the user's
// own ($XDG_CONFIG_HOME/autostart) first, then autostart/ in each folder of
// $XDG_CONFIG_DIRS (/etc/xdg by default). Relative folders are not valid
// there and are skipped.
std::string userAutostartFolder()
{
    const char *home = std::getenv("XDG_CONFIG_HOME");
    if (home && home[0] == '/')
        return std::string(home) + "/autostart";
    const char *userHome = std::getenv("HOME");
    return std::string(userHome ? userHome : "") + "/.config/autostart";
}

std::vector<std::string> machineAutostartFolders()
{
    std::vector<std::string> folders;
    const char *dirs = std::getenv("XDG_CONFIG_DIRS");
    for (const QByteArray &dir : QByteArray(dirs ? dirs : "").split(':')) {
        if (dir.startsWith('/'))
            folders.push_back(dir.toStdString() + "/autostart");
    }
    if (folders.empty())
        folders.push_back("/etc/xdg/autostart");
    return folders;
}

long makeFolders(const std::string &folder, mode_t mode)
{
    for (std::size_t slash = 1; slash != std::string::npos;) {
        slash = folder.find('/', slash + 1);
        const std::string part = folder.substr(0, slash);
        if (::mkdir(part.c_str(), mode) != 0 && errno != EEXIST)
            return codeFromErrno(errno, ERROR_ACCESS_DENIED);
    }
    return ERROR_SUCCESS;
}

// A value name becomes a file name, so it must be one.
bool isEntryName(const std::string &name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos
        && name.find('\0') == std::string::npos;
}

// Desktop Entry string values escape backslashes and control characters.
QByteArray escapeValue(const QByteArray &text)
{
    QByteArray out;
    for (int i = 0; i < text.size(); ++i) {
        const char c = text[i];
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        case '\r': out += "\\r"; break;
        case ' ':
            out += (i == 0) ? QByteArray("\\s") : QByteArray(" ");
            break;
        default: out += c;
        }
    }
    return out;
}

QByteArray unescapeValue(const QByteArray &text)
{
    QByteArray out;
    for (int i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        switch (text[++i]) {
        case 's': out += ' '; break;
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case 'r': out += '\r'; break;
        case '\\': out += '\\'; break;
        // Not a string escape: left for the Exec quoting rules.
        default: out += '\\'; out += text[i];
        }
    }
    return out;
}

// The program as one quoted Exec argument: inside the quotes, the quoting
// rules escape the double quote, backtick, dollar and backslash; a literal
// percent sign is doubled.
QByteArray quotedExecProgram(const QByteArray &program)
{
    QByteArray out = "\"";
    for (const char c : program) {
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            out += '\\';
        out += c;
        if (c == '%')
            out += '%';
    }
    out += '"';
    return out;
}

// The first argument of an Exec value already unescaped as a string.
QByteArray execProgram(const QByteArray &exec)
{
    QByteArray program;
    int i = 0;
    while (i < exec.size() && (exec[i] == ' ' || exec[i] == '\t'))
        ++i;
    if (i < exec.size() && exec[i] == '"') {
        for (++i; i < exec.size() && exec[i] != '"'; ++i) {
            const bool escaped = exec[i] == '\\' && i + 1 < exec.size()
                && std::strchr("\"`$\\", exec[i + 1]) != nullptr;
            if (escaped)
                ++i;
            program += exec[i];
        }
    } else {
        for (; i < exec.size() && exec[i] != ' ' && exec[i] != '\t'; ++i)
            program += exec[i];
    }
    return program.replace("%%", "%");
}

// program empty: an entry that hides one of the same name for this user.
QByteArray desktopEntry(const std::string &name, const QByteArray &program)
{
    QByteArray entry = "[Desktop Entry]\nType=Application\n";
    entry += "Name=" + escapeValue(QByteArray::fromStdString(name)) + '\n';
    if (program.isEmpty())
        entry += "Hidden=true\n";
    else
        entry += "Exec=" + escapeValue(quotedExecProgram(program)) + '\n';
    return entry;
}

// Whether a desktop named in the list is one of $XDG_CURRENT_DESKTOP's.
bool namesCurrentDesktop(const QByteArray &list)
{
    const char *current = std::getenv("XDG_CURRENT_DESKTOP");
    const QList<QByteArray> desktops = QByteArray(current ? current : "").split(':');
    for (const QByteArray &named : list.split(';')) {
        if (!named.trimmed().isEmpty() && desktops.contains(named.trimmed()))
            return true;
    }
    return false;
}

struct EntryRead
{
    long code;
    QByteArray program;
};

// What the session does with one entry: ERROR_FILE_NOT_FOUND when it starts
// nothing for this user, else the program it starts.
EntryRead readEntry(const std::string &path)
{
    // Non-blocking, so that a FIFO in place of an entry cannot hold us; only
    // a regular file of a sensible size is an entry.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return {codeFromErrno(errno, ERROR_READ_FAULT), {}};
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > 1024 * 1024) {
        ::close(fd);
        return {ERROR_FILE_NOT_FOUND, {}};
    }
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return {ERROR_READ_FAULT, {}};
    }
    bool inMainGroup = false;
    bool starts = true;
    QByteArray exec;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        if (line.startsWith('[')) {
            inMainGroup = line == "[Desktop Entry]";
            continue;
        }
        const int equals = line.indexOf('=');
        if (!inMainGroup || equals < 0)
            continue;
        const QByteArray key = line.left(equals).trimmed();
        const QByteArray value = line.mid(equals + 1).trimmed();
        if ((key == "Hidden" && value == "true") || (key == "X-GNOME-Autostart-enabled" && value == "false")
            || (key == "OnlyShowIn" && !namesCurrentDesktop(value)) || (key == "NotShowIn" && namesCurrentDesktop(value)))
            starts = false;
        if (key == "Exec")
            exec = value;
    }
    if (!starts)
        return {ERROR_FILE_NOT_FOUND, {}};
    return {ERROR_SUCCESS, execProgram(unescapeValue(exec))};
}

bool exists(const std::string &path)
{
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

// Writes the whole entry beside its final name and renames it into place,
// so that a session starting meanwhile sees the old entry or the new one.
long writeEntryAtomically(const std::string &path, const QByteArray &entry)
{
    const std::string folder = path.substr(0, path.rfind('/'));
    std::string temporary = folder + "/.ostrevol-XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0)
        return codeFromErrno(errno, ERROR_WRITE_FAULT);
    long code = ERROR_SUCCESS;
    const char *data = entry.constData();
    std::size_t left = std::size_t(entry.size());
    while (code == ERROR_SUCCESS && left > 0) {
        const ssize_t written = ::write(fd, data, left);
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0)
            code = codeFromErrno(errno, ERROR_WRITE_FAULT);
        else {
            data += written;
            left -= std::size_t(written);
        }
    }
    // Machine-wide entries are read by every user's session.
    if (code == ERROR_SUCCESS && ::fchmod(fd, 0644) != 0)
        code = codeFromErrno(errno, ERROR_WRITE_FAULT);
    if (code == ERROR_SUCCESS && ::fsync(fd) != 0)
        code = codeFromErrno(errno, ERROR_WRITE_FAULT);
    if (::close(fd) != 0 && code == ERROR_SUCCESS)
        code = codeFromErrno(errno, ERROR_WRITE_FAULT);
    if (code == ERROR_SUCCESS && ::rename(temporary.c_str(), path.c_str()) != 0)
        code = codeFromErrno(errno, ERROR_WRITE_FAULT);
    if (code != ERROR_SUCCESS)
        ::unlink(temporary.c_str());
    return code;
}

long copyOut(const QByteArray &value, std::uint32_t valueType, std::uint32_t *type, std::uint8_t *data,
             std::uint32_t *size)
{
    if (type)
        *type = valueType;
    const auto needed = std::uint32_t(value.size());
    if (!size)
        return data ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
    if (data && *size < needed) {
        *size = needed;
        return ERROR_MORE_DATA;
    }
    if (data)
        std::memcpy(data, value.constData(), needed);
    *size = needed;
    return ERROR_SUCCESS;
}

QByteArray withNul(QByteArray text)
{
    text.append('\0');
    return text;
}

class SystemRegistry : public Registry
{
public:
    long createKey(HKEY root, const std::string &path, std::uint32_t access, HKEY *key) override
    {
        if (!key)
            return ERROR_INVALID_PARAMETER;
        const bool known = (root == HKEY_LOCAL_MACHINE && sameKeyPath(path, runKeyPath))
            || (root == HKEY_CURRENT_USER && sameKeyPath(path, desktopKeyPath));
        // Nothing else of the registry has a place to live on this system.
        if (isPredefined(root) && !known)
            return ERROR_ACCESS_DENIED;
        return openKey(root, path, access, key);
    }

    long openKey(HKEY root, const std::string &path, std::uint32_t access, HKEY *key) override
    {
        if (!key)
            return ERROR_INVALID_PARAMETER;
        if (!isPredefined(root) && !m_keys.count(root))
            return ERROR_INVALID_HANDLE;
        // The Run key is the autostart folders together, which every user
        // may read; what may be written is found out by writing.
        if (root == HKEY_LOCAL_MACHINE && sameKeyPath(path, runKeyPath))
            return add({Place::Run, access}, key);
        if (root == HKEY_CURRENT_USER && sameKeyPath(path, desktopKeyPath))
            return add({Place::Desktop, access}, key);
        return ERROR_FILE_NOT_FOUND;
    }

    long setValue(HKEY key, const std::string &name, std::uint32_t type, const std::uint8_t *data,
                  std::uint32_t size) override
    {
        const auto open = m_keys.find(key);
        if (open == m_keys.end())
            return ERROR_INVALID_HANDLE;
        if (open->second.place != Place::Run || !(open->second.access & KEY_SET_VALUE))
            return ERROR_ACCESS_DENIED;
        if (type != REG_SZ || !isEntryName(name) || (size > 0 && !data))
            return ERROR_INVALID_PARAMETER;
        QByteArray program(reinterpret_cast<const char *>(data), int(size));
        program.truncate(program.indexOf('\0') < 0 ? program.size() : program.indexOf('\0'));
        if (program.isEmpty())
            return ERROR_INVALID_PARAMETER;
        const QByteArray entry = desktopEntry(name, program);

        // Machine-wide where this program may write there (root), else the
        // user's own entry, which starts the program for this user alone.
        m_place = machineEntry(name);
        long code = makeFolders(machineAutostartFolders().front(), 0755);
        if (code == ERROR_SUCCESS)
            code = writeEntryAtomically(m_place, entry);
        if (code == ERROR_SUCCESS) {
            // The user's entry of that name would override it.
            m_place = userEntry(name);
            if (::unlink(m_place.c_str()) != 0 && errno != ENOENT)
                return codeFromErrno(errno, ERROR_WRITE_FAULT);
            return ERROR_SUCCESS;
        }
        if (code != ERROR_ACCESS_DENIED)
            return code;
        return writeUserEntry(name, entry);
    }

    long deleteValue(HKEY key, const std::string &name) override
    {
        const auto open = m_keys.find(key);
        if (open == m_keys.end())
            return ERROR_INVALID_HANDLE;
        if (open->second.place != Place::Run || !(open->second.access & KEY_SET_VALUE))
            return ERROR_ACCESS_DENIED;
        m_place = userAutostartFolder();
        if (!isEntryName(name) || startedEntry(name).code != ERROR_SUCCESS)
            return ERROR_FILE_NOT_FOUND;
        m_place = userEntry(name);
        if (::unlink(m_place.c_str()) != 0 && errno != ENOENT)
            return codeFromErrno(errno, ERROR_WRITE_FAULT);
        // A machine-wide entry this program may not remove stays, and is
        // hidden from this user by an entry of the user's own.
        ::unlink(machineEntry(name).c_str());
        if (startedEntry(name).code != ERROR_SUCCESS)
            return ERROR_SUCCESS;
        return writeUserEntry(name, desktopEntry(name, {}));
    }

    long queryValue(HKEY key, const std::string &name, std::uint32_t *type, std::uint8_t *data,
                    std::uint32_t *size) override
    {
        const auto open = m_keys.find(key);
        if (open == m_keys.end())
            return ERROR_INVALID_HANDLE;
        if (!(open->second.access & KEY_QUERY_VALUE) && open->second.place == Place::Run)
            return ERROR_ACCESS_DENIED;
        if (open->second.place == Place::Desktop) {
            if (!sameKeyPath(name, "wallpaper"))
                return ERROR_FILE_NOT_FOUND;
            return copyOut(withNul(currentWallpaperPath().toUtf8()), REG_SZ, type, data, size);
        }
        if (!isEntryName(name))
            return ERROR_FILE_NOT_FOUND;
        const EntryRead entry = startedEntry(name);
        if (entry.code != ERROR_SUCCESS)
            return entry.code;
        return copyOut(withNul(entry.program), REG_SZ, type, data, size);
    }

    long closeKey(HKEY key) override
    {
        if (isPredefined(key))
            return ERROR_SUCCESS;
        return m_keys.erase(key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
    }

    std::string lastPlace() const override { return m_place; }

private:
    long add(OpenKey open, HKEY *key)
    {
        *key = m_next++;
        m_keys.emplace(*key, open);
        return ERROR_SUCCESS;
    }

    static std::string userEntry(const std::string &name) { return userAutostartFolder() + "/" + name + ".desktop"; }
    static std::string machineEntry(const std::string &name)
    {
        return machineAutostartFolders().front() + "/" + name + ".desktop";
    }

    // The entry of that name the session reads for this user: the first
    // found in the folders' order; it alone decides.
    EntryRead startedEntry(const std::string &name)
    {
        std::vector<std::string> folders = machineAutostartFolders();
        folders.insert(folders.begin(), userAutostartFolder());
        for (const std::string &folder : folders) {
            const std::string path = folder + "/" + name + ".desktop";
            if (exists(path)) {
                m_place = path;
                return readEntry(path);
            }
        }
        return {ERROR_FILE_NOT_FOUND, {}};
    }

    long writeUserEntry(const std::string &name, const QByteArray &entry)
    {
        m_place = userEntry(name);
        if (const long code = makeFolders(userAutostartFolder(), 0700); code != ERROR_SUCCESS)
            return code;
        return writeEntryAtomically(m_place, entry);
    }

    std::map<HKEY, OpenKey> m_keys;
    HKEY m_next = 1;
    std::string m_place;
};

} // namespace

std::unique_ptr<Registry> makeSystemRegistry()
{
    return std::make_unique<SystemRegistry>();
}

} // namespace reg
