// The autostart entry read through the Run key from arbitrary .desktop text in a scratch $XDG_CONFIG_DIRS; or,
// when the first byte is odd, the rest written as the value, which must read back as the program it holds.
#include "DemarrApp.h"
#include "FuzzCheck.h"
#include "Registry.h"
#include "basReg.h"

#include <optional>
#include <vector>

struct NoMessages : MessageSink { void showWarning(const std::string &, const std::string &) override {} };

// The program the entry starts, if any, checking on the way how the value's size is reported.
static std::optional<QByteArray> query(reg::Registry &registry)
{
    reg::HKEY key = 0;
    FUZZ_CHECK(registry.openKey(reg::HKEY_LOCAL_MACHINE, runPath, reg::KEY_READ, &key) == reg::ERROR_SUCCESS,
               "the Run key does not open");
    std::uint32_t type = 0, size = 0;
    if (registry.queryValue(key, "Tintarel", &type, nullptr, &size) != reg::ERROR_SUCCESS) {
        registry.closeKey(key);
        return std::nullopt;
    }
    FUZZ_CHECK(type == reg::REG_SZ && size >= 1, "type %u size %u", type, size);
    std::vector<std::uint8_t> buffer(size + 8, 0xAA);
    std::uint32_t small = size - 1;
    FUZZ_CHECK(registry.queryValue(key, "Tintarel", &type, buffer.data(), &small) == reg::ERROR_MORE_DATA
                   && small == size && buffer[size - 1] == 0xAA,
               "a buffer one byte short was accepted or written past");
    std::uint32_t got = std::uint32_t(buffer.size());
    FUZZ_CHECK(registry.queryValue(key, "Tintarel", &type, buffer.data(), &got) == reg::ERROR_SUCCESS && got == size
                   && buffer[got - 1] == 0 && buffer[got] == 0xAA,
               "a buffer large enough was refused, or got a text without its NUL, or was written past");
    FUZZ_CHECK(registry.closeKey(key) == reg::ERROR_SUCCESS, "the key does not close");
    return QByteArray(reinterpret_cast<const char *>(buffer.data()), qsizetype(got - 1));
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    const QString folder = scratchFolder();
    if (!QDir(folder).mkpath(QStringLiteral("system/autostart")))
        std::abort();
    // A relative folder, which is skipped, before ours; the user's own folder, which would override it, is empty.
    ::setenv("XDG_CONFIG_DIRS", ("relative/xdg:" + folder + "/system:/etc/xdg").toUtf8().constData(), 1);
    ::setenv("XDG_CONFIG_HOME", (folder + "/home").toUtf8().constData(), 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray input(reinterpret_cast<const char *>(data) + 1, qsizetype(size - 1));
    const auto registry = reg::makeSystemRegistry();

    if (!(data[0] & 1)) {
        putFile(scratchFolder() + QStringLiteral("/system/autostart/Tintarel.desktop"), input);
        const auto program = query(*registry);
        NoMessages messages;
        const std::string text = DemarrApp(*registry, messages)
                                     .CléLectureValeur(ostrevol::HKey::HKEY_LOCAL_MACHINE, runPath, "Tintarel", false);
        FUZZ_CHECK(program ? program->contains('\0') || text == program->toStdString() : text.empty(),
                   "the library read another text, or one that cannot be queried");
        return 0;
    }

    reg::HKEY key = 0;
    FUZZ_CHECK(registry->createKey(reg::HKEY_LOCAL_MACHINE, runPath, reg::KEY_ALL_ACCESS, &key) == reg::ERROR_SUCCESS,
               "the Run key cannot be created");
    const long written = registry->setValue(key, "Tintarel", reg::REG_SZ,
                                            reinterpret_cast<const std::uint8_t *>(input.constData()),
                                            std::uint32_t(input.size()));
    registry->closeKey(key);
    // The program is the text up to its first NUL; no program is no entry.
    const QByteArray program = input.left(input.indexOf('\0') < 0 ? input.size() : input.indexOf('\0'));
    FUZZ_CHECK(written == (program.isEmpty() ? reg::ERROR_INVALID_PARAMETER : reg::ERROR_SUCCESS), "setValue gave %ld",
               written);
    const auto read = query(*registry);
    FUZZ_CHECK(program.isEmpty() || (read && *read == program), "wrote '%s', read back '%s'",
               program.toPercentEncoding().constData(), read ? read->toPercentEncoding().constData() : "(nothing)");
    return 0;
}
