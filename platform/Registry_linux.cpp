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

// autostart/ in the first folder of $XDG_CONFIG_DIRS; relative entries are
// not valid there and are skipped.
std::string autostartFolder()
{
    const char *dirs = std::getenv("XDG_CONFIG_DIRS");
    for (const QByteArray &dir : QByteArray(dirs ? dirs : "").split(':')) {
        if (dir.startsWith('/'))
            return dir.toStdString() + "/autostart";
    }
    return "/etc/xdg/autostart";
}

long checkAccess(const std::string &folder, std::uint32_t access)
{
    int mode = X_OK;
    if (access & KEY_QUERY_VALUE)
        mode |= R_OK;
    if (access & (KEY_SET_VALUE | KEY_CREATE_SUB_KEY))
        mode |= W_OK;
    struct stat info;
    if (::stat(folder.c_str(), &info) != 0)
        return codeFromErrno(errno, ERROR_FILE_NOT_FOUND);
    if (!S_ISDIR(info.st_mode))
        return ERROR_FILE_NOT_FOUND;
    if (::faccessat(AT_FDCWD, folder.c_str(), mode, AT_EACCESS) != 0)
        return codeFromErrno(errno, ERROR_ACCESS_DENIED);
    return ERROR_SUCCESS;
}

long makeFolders(const std::string &folder)
{
    for (std::size_t slash = 1; slash != std::string::npos;) {
        slash = folder.find('/', slash + 1);
        const std::string part = folder.substr(0, slash);
        if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST)
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

QByteArray desktopEntry(const std::string &name, const QByteArray &program)
{
    QByteArray entry = "[Desktop Entry]\nType=Application\n";
    entry += "Name=" + escapeValue(QByteArray::fromStdString(name)) + '\n';
    entry += "Exec=" + escapeValue(quotedExecProgram(program)) + '\n';
    return entry;
}

struct EntryRead
{
    long code;
    QByteArray program;
};

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
        // An entry marked hidden counts as deleted for autostart.
        if (key == "Hidden" && value == "true")
            return {ERROR_FILE_NOT_FOUND, {}};
        if (key == "Exec")
            exec = value;
    }
    return {ERROR_SUCCESS, execProgram(unescapeValue(exec))};
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
        if (root == HKEY_LOCAL_MACHINE && sameKeyPath(path, runKeyPath)) {
            if (const long code = makeFolders(autostartFolder()); code != ERROR_SUCCESS)
                return code;
        } else if (isPredefined(root) && !(root == HKEY_CURRENT_USER && sameKeyPath(path, desktopKeyPath))) {
            // Nothing else of the registry has a place to live on this system.
            return ERROR_ACCESS_DENIED;
        }
        return openKey(root, path, access, key);
    }

    long openKey(HKEY root, const std::string &path, std::uint32_t access, HKEY *key) override
    {
        if (!key)
            return ERROR_INVALID_PARAMETER;
        if (!isPredefined(root) && !m_keys.count(root))
            return ERROR_INVALID_HANDLE;
        if (root == HKEY_LOCAL_MACHINE && sameKeyPath(path, runKeyPath)) {
            if (const long code = checkAccess(autostartFolder(), access); code != ERROR_SUCCESS)
                return code;
            return add({Place::Run, access}, key);
        }
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
        return writeEntryAtomically(entryPath(name), desktopEntry(name, program));
    }

    long deleteValue(HKEY key, const std::string &name) override
    {
        const auto open = m_keys.find(key);
        if (open == m_keys.end())
            return ERROR_INVALID_HANDLE;
        if (open->second.place != Place::Run || !(open->second.access & KEY_SET_VALUE))
            return ERROR_ACCESS_DENIED;
        if (!isEntryName(name))
            return ERROR_FILE_NOT_FOUND;
        if (::unlink(entryPath(name).c_str()) != 0)
            return codeFromErrno(errno, ERROR_WRITE_FAULT);
        return ERROR_SUCCESS;
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
        const EntryRead entry = readEntry(entryPath(name));
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

private:
    long add(OpenKey open, HKEY *key)
    {
        *key = m_next++;
        m_keys.emplace(*key, open);
        return ERROR_SUCCESS;
    }

    static std::string entryPath(const std::string &name) { return autostartFolder() + "/" + name + ".desktop"; }

    std::map<HKEY, OpenKey> m_keys;
    HKEY m_next = 1;
};

} // namespace

std::unique_ptr<Registry> makeSystemRegistry()
{
    return std::make_unique<SystemRegistry>();
}

} // namespace reg
