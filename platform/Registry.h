#pragma once

#include <cstdint>
#include <memory>
#include <string>

// The registry calls of the startup-registration library, with the Windows
// result codes and value types. Names, paths and texts are UTF-8; key paths
// are compared without regard to case, as the registry does.
//
// Linux has no registry; the system implementation maps two keys onto real
// places and finds no other:
// - HKEY_LOCAL_MACHINE "Software\Microsoft\Windows\CurrentVersion\Run" is
//   what the session starts for this user by the freedesktop autostart
//   rules. A value named N is the desktop entry N.desktop that the session
//   reads: the user's own in $XDG_CONFIG_HOME/autostart, else the first in
//   autostart/ of the $XDG_CONFIG_DIRS folders (/etc/xdg by default). Its
//   text is the program the entry runs; an entry that starts nothing
//   (Hidden=true, X-GNOME-Autostart-enabled=false, OnlyShowIn or NotShowIn
//   against $XDG_CURRENT_DESKTOP) is no value. Writing makes the machine-wide
//   entry (first folder of $XDG_CONFIG_DIRS) where this program may, else the
//   user's own; deleting removes the user's entry and the machine-wide one,
//   and hides from this user, by an entry of the user's own, a machine-wide
//   entry that stays. Only REG_SZ values can be written there.
// - HKEY_CURRENT_USER "Control Panel\Desktop", value "Wallpaper", is the
//   current desktop wallpaper as a local file path (empty text when none can
//   be found). The key opens with any access mask but cannot be written.
namespace reg {

using HKEY = std::uint32_t;

constexpr HKEY HKEY_CLASSES_ROOT = 0x80000000u;
constexpr HKEY HKEY_CURRENT_USER = 0x80000001u;
constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002u;
constexpr HKEY HKEY_USERS = 0x80000003u;
constexpr HKEY HKEY_CURRENT_CONFIG = 0x80000005u;
constexpr HKEY HKEY_DYN_DATA = 0x80000006u;

constexpr long ERROR_SUCCESS = 0;
constexpr long ERROR_FILE_NOT_FOUND = 2;
constexpr long ERROR_ACCESS_DENIED = 5;
constexpr long ERROR_INVALID_HANDLE = 6;
constexpr long ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr long ERROR_WRITE_FAULT = 29;
constexpr long ERROR_READ_FAULT = 30;
constexpr long ERROR_INVALID_PARAMETER = 87;
constexpr long ERROR_DISK_FULL = 112;
constexpr long ERROR_MORE_DATA = 234;

constexpr std::uint32_t REG_NONE = 0;
constexpr std::uint32_t REG_SZ = 1;
constexpr std::uint32_t REG_EXPAND_SZ = 2;
constexpr std::uint32_t REG_BINARY = 3;
constexpr std::uint32_t REG_DWORD = 4;

constexpr std::uint32_t KEY_QUERY_VALUE = 0x0001;
constexpr std::uint32_t KEY_SET_VALUE = 0x0002;
constexpr std::uint32_t KEY_CREATE_SUB_KEY = 0x0004;
constexpr std::uint32_t KEY_READ = 0x20019;
constexpr std::uint32_t KEY_WRITE = 0x20006;
constexpr std::uint32_t KEY_ALL_ACCESS = 0xF003F;

class Registry
{
public:
    virtual ~Registry() = default;

    // Opens the key, creating it when it does not exist.
    virtual long createKey(HKEY root, const std::string &path, std::uint32_t access, HKEY *key) = 0;
    virtual long openKey(HKEY root, const std::string &path, std::uint32_t access, HKEY *key) = 0;
    // size counts the bytes of data; for REG_SZ the text ends at the first NUL.
    virtual long setValue(HKEY key, const std::string &name, std::uint32_t type, const std::uint8_t *data,
                          std::uint32_t size) = 0;
    virtual long deleteValue(HKEY key, const std::string &name) = 0;
    // *size holds the buffer's size and receives the value's size (a REG_SZ
    // counts its NUL). A buffer too small gives ERROR_MORE_DATA and the size
    // needed; a null data asks for the type and size only.
    virtual long queryValue(HKEY key, const std::string &name, std::uint32_t *type, std::uint8_t *data,
                            std::uint32_t *size) = 0;
    virtual long closeKey(HKEY key) = 0;
    // The file or folder the last call worked on, for messages; empty where
    // a key has no such place.
    virtual std::string lastPlace() const { return {}; }
};

// The registry over this machine's places, as described above.
std::unique_ptr<Registry> makeSystemRegistry();

} // namespace reg
