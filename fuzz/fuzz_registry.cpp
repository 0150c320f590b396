// The library's registry routines (basReg, through DemarrApp as well) over
// the in-memory registry of the tests, holding values of arbitrary type,
// size and bytes, with any call made to fail or throw.
#include "DemarrApp.h"
#include "FakeRegistry.h"
#include "FuzzCheck.h"
#include "basReg.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

const std::string runPath = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const std::string desktopPath = "Control Panel\\Desktop";

const long codes[] = {reg::ERROR_SUCCESS, reg::ERROR_FILE_NOT_FOUND, reg::ERROR_ACCESS_DENIED,
                      reg::ERROR_INVALID_HANDLE, reg::ERROR_MORE_DATA, 1013, FakeRegistry::throws};

const std::uint32_t roots[] = {reg::HKEY_LOCAL_MACHINE, reg::HKEY_CURRENT_USER, reg::HKEY_CLASSES_ROOT, 0, 7};

std::string name(FuzzedDataProvider &in)
{
    // Mostly the names the programs use, so that reads find what was stored.
    switch (in.ConsumeIntegralInRange(0, 3)) {
    case 0: return "Tintarel";
    case 1: return "Wallpaper";
    case 2: return "";
    default: return in.ConsumeRandomLengthString(40);
    }
}

std::string keyPath(FuzzedDataProvider &in)
{
    switch (in.ConsumeIntegralInRange(0, 3)) {
    case 0: return runPath;
    case 1: return "SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\RUN";
    case 2: return desktopPath;
    default: return in.ConsumeRandomLengthString(60);
    }
}

void maybeFail(FuzzedDataProvider &in, FakeRegistry &registry)
{
    registry.failures.clear();
    if (!in.ConsumeBool())
        return;
    const auto call = FakeRegistry::Call(in.ConsumeIntegralInRange(0, 5));
    const long code = in.PickValueInArray(codes);
    registry.failures[call] = code;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    FakeRegistry registry;
    CapturedMessages messages;
    basReg routines(registry, messages);
    DemarrApp app(registry, messages);

    // Stored values of any type and bytes, a NUL or none at the end.
    const int stored = in.ConsumeIntegralInRange(0, 4);
    for (int i = 0; i < stored; ++i) {
        const std::uint32_t root = in.PickValueInArray(roots);
        const std::string path = keyPath(in);
        const std::string value = name(in);
        const std::uint32_t type = in.ConsumeBool() ? in.ConsumeIntegralInRange<std::uint32_t>(0, 5)
                                                    : in.ConsumeIntegral<std::uint32_t>();
        std::string bytes = in.ConsumeRandomLengthString(in.ConsumeBool() ? 300 : 8);
        registry.keys[FakeRegistry::keyName(root, path)][value] = {type, bytes};
    }

    while (in.remaining_bytes() > 0) {
        maybeFail(in, registry);
        const bool anyFailure = !registry.failures.empty();
        const bool MessageErreur = in.ConsumeBool();
        const std::size_t shownBefore = messages.shown.size();
        switch (in.ConsumeIntegralInRange(0, 4)) {
        case 0: {
            const std::uint32_t root = in.PickValueInArray(roots);
            const std::string path = keyPath(in);
            const std::string value = name(in);
            const std::int32_t requested = in.ConsumeBool() ? in.ConsumeIntegralInRange(0, 5)
                                                            : in.ConsumeIntegral<std::int32_t>();
            RegValue read = std::string("unchanged");
            const bool ok = routines.RegLectureValeur(root, path, value, requested, read, MessageErreur);
            if (!ok) {
                FUZZ_CHECK(std::get<std::string>(read) == "unchanged", "a failed read changed the value");
                break;
            }
            FUZZ_CHECK(read.index() != 0, "a read succeeded with no value");
            const auto &values = registry.keys.at(FakeRegistry::keyName(root, path));
            const auto found = values.find(value);
            if (requested == 1 && found != values.end() && found->second.type == reg::REG_SZ
                && !found->second.bytes.empty()) {
                const std::string &bytes = found->second.bytes;
                FUZZ_CHECK(std::get<std::string>(read) == bytes.substr(0, bytes.size() - 1),
                           "the text read is not the text stored");
            }
            if (!anyFailure)
                FUZZ_CHECK(messages.shown.size() == shownBefore, "a read that succeeded showed a message");
            break;
        }
        case 1: {
            const std::int32_t typeCode = in.ConsumeBool() ? in.PickValueInArray({1, 4, 0, 2})
                                                           : in.ConsumeIntegral<std::int32_t>();
            const std::string value = name(in);
            const std::string text = in.ConsumeRandomLengthString(300);
            const bool ok = routines.RegDemarrEcrire(typeCode, value, text, MessageErreur);
            // Text written is read back as it was, whatever its length.
            if (ok && typeCode == 1 && !anyFailure) {
                RegValue read;
                FUZZ_CHECK(routines.RegLectureValeur(reg::HKEY_LOCAL_MACHINE, runPath, value, 1, read, true),
                           "a value just written cannot be read");
                FUZZ_CHECK(std::get<std::string>(read) == text, "the text written is not the text read");
            }
            break;
        }
        case 2:
            routines.RegDemarrEffacer(name(in), MessageErreur);
            break;
        case 3:
            app.CléLectureValeur(ostrevol::HKey(in.PickValueInArray(roots)), keyPath(in), name(in), MessageErreur);
            break;
        default: {
            const std::string title = name(in);
            const std::string folder = in.ConsumeRandomLengthString(100);
            const std::string exe = in.ConsumeRandomLengthString(40);
            app.RegDemarrAjoutApp(title, folder, exe, MessageErreur);
            break;
        }
        }
        FUZZ_CHECK(registry.keysLeftOpen() == 0, "%d keys left open", registry.keysLeftOpen());
    }
    return 0;
}
