// The desktop entries of the machine-wide autostart folder, read through the
// system registry's Run key: arbitrary .desktop text is put in a temporary
// $XDG_CONFIG_DIRS/autostart and queried as the programs query it. Inputs
// whose first byte is odd are instead written as a value and read back,
// which must give the program unchanged.
#include "DemarrApp.h"
#include "FuzzCheck.h"
#include "Registry.h"
#include "basReg.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

const std::string runPath = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const std::string entryName = "Tintarel";

class NoMessages : public MessageSink
{
public:
    void showWarning(const std::string &, const std::string &) override {}
};

QTemporaryDir *configDirs = nullptr;
QString entryFile;

void cleanUp()
{
    delete configDirs;
}

// The program of the entry, or nothing with the code when the query fails;
// also checks how the value's size is reported.
std::optional<QByteArray> query(reg::Registry &registry, const std::string &name)
{
    reg::HKEY key = 0;
    FUZZ_CHECK(registry.openKey(reg::HKEY_LOCAL_MACHINE, runPath, reg::KEY_READ, &key) == reg::ERROR_SUCCESS,
               "the Run key does not open");
    std::uint32_t type = 0;
    std::uint32_t size = 0;
    const long sized = registry.queryValue(key, name, &type, nullptr, &size);
    if (sized != reg::ERROR_SUCCESS) {
        registry.closeKey(key);
        return std::nullopt;
    }
    FUZZ_CHECK(type == reg::REG_SZ && size >= 1, "type %u size %u", type, size);

    std::uint32_t small = size - 1;
    std::vector<std::uint8_t> tooSmall(small + 1, 0xAA);
    FUZZ_CHECK(registry.queryValue(key, name, &type, tooSmall.data(), &small) == reg::ERROR_MORE_DATA,
               "a buffer one byte short was accepted");
    FUZZ_CHECK(small == size, "size %u then %u", size, small);
    FUZZ_CHECK(tooSmall.back() == 0xAA, "a buffer too small was written past its size");

    std::vector<std::uint8_t> buffer(size + 8, 0xAA);
    std::uint32_t got = std::uint32_t(buffer.size());
    FUZZ_CHECK(registry.queryValue(key, name, &type, buffer.data(), &got) == reg::ERROR_SUCCESS,
               "a buffer large enough was refused");
    FUZZ_CHECK(got == size, "size %u then %u", size, got);
    FUZZ_CHECK(buffer[got - 1] == 0, "a text without its NUL");
    FUZZ_CHECK(buffer[got] == 0xAA, "written past the value");
    FUZZ_CHECK(registry.closeKey(key) == reg::ERROR_SUCCESS, "the key does not close");
    return QByteArray(reinterpret_cast<const char *>(buffer.data()), qsizetype(got - 1));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    configDirs = new QTemporaryDir(scratchBase() + QStringLiteral("/tintarel-fuzz-XXXXXX"));
    if (!configDirs->isValid() || !QDir(configDirs->path()).mkpath(QStringLiteral("autostart")))
        std::abort();
    // A relative folder first, which is skipped, then ours.
    const QByteArray dirs = "relative/xdg:" + configDirs->path().toUtf8() + ":/etc/xdg";
    ::setenv("XDG_CONFIG_DIRS", dirs.constData(), 1);
    entryFile = configDirs->path() + QStringLiteral("/autostart/Tintarel.desktop");
    std::atexit(cleanUp);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const bool roundTrip = data[0] & 1;
    const QByteArray input(reinterpret_cast<const char *>(data) + 1, qsizetype(size - 1));
    const auto registry = reg::makeSystemRegistry();

    if (!roundTrip) {
        QFile file(entryFile);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(input) != input.size())
            std::abort();
        file.close();

        const auto program = query(*registry, entryName);
        // The library reads the same value into its 255-byte buffer.
        NoMessages messages;
        DemarrApp app(*registry, messages);
        const std::string text = app.CléLectureValeur(ostrevol::HKey::HKEY_LOCAL_MACHINE, runPath, entryName, false);
        if (!program)
            FUZZ_CHECK(text.empty(), "a value that cannot be queried was read");
        else if (program->size() < 255 && !program->contains('\0'))
            FUZZ_CHECK(text == program->toStdString(), "the library read another text");
        return 0;
    }

    // The program as written by the library: the text up to its first NUL.
    reg::HKEY key = 0;
    FUZZ_CHECK(registry->createKey(reg::HKEY_LOCAL_MACHINE, runPath, reg::KEY_ALL_ACCESS, &key) == reg::ERROR_SUCCESS,
               "the Run key cannot be created");
    const QByteArray program = input.left(input.indexOf('\0') < 0 ? input.size() : input.indexOf('\0'));
    const long written = registry->setValue(key, entryName, reg::REG_SZ,
                                            reinterpret_cast<const std::uint8_t *>(input.constData()),
                                            std::uint32_t(input.size()));
    FUZZ_CHECK(written == reg::ERROR_SUCCESS, "setValue gave %ld", written);
    registry->closeKey(key);
    const auto read = query(*registry, entryName);
    FUZZ_CHECK(read, "a value just written cannot be queried");
    FUZZ_CHECK(*read == program, "wrote '%s', read back '%s'", program.toPercentEncoding().constData(),
               read->toPercentEncoding().constData());
    return 0;
}
