// The library's registry routines (basReg, and through DemarrApp) over the tests' in-memory registry, holding
// values of any type, size and bytes, with any call made to fail or throw.
#include "DemarrApp.h"
#include "FakeRegistry.h"
#include "FuzzCheck.h"
#include "basReg.h"

#include <array>
#include <fuzzer/FuzzedDataProvider.h>

const long codes[] = {reg::ERROR_SUCCESS, reg::ERROR_FILE_NOT_FOUND, reg::ERROR_ACCESS_DENIED,
                      reg::ERROR_INVALID_HANDLE, reg::ERROR_MORE_DATA, 1013, FakeRegistry::throws};
const std::uint32_t roots[] = {reg::HKEY_LOCAL_MACHINE, reg::HKEY_CURRENT_USER, reg::HKEY_CLASSES_ROOT, 0, 7};

// Mostly the names and paths the programs use, so that reads find what was stored.
static std::string name(FuzzedDataProvider &in, bool path = false)
{
    static const std::array<std::string, 3> names{"Tintarel", "Wallpaper", ""},
        paths{runPath, "SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\RUN", "Control Panel\\Desktop"};
    const int i = in.ConsumeIntegralInRange(0, 3);
    return i < 3 ? (path ? paths : names)[i] : in.ConsumeRandomLengthString(path ? 60 : 40);
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    FakeRegistry registry;
    CapturedMessages messages;
    basReg routines(registry, messages);
    DemarrApp app(registry, messages);

    // Stored values, with a NUL at the end or none.
    for (int i = in.ConsumeIntegralInRange(0, 4); i > 0; --i) {
        const std::uint32_t root = in.PickValueInArray(roots);
        const std::string key = FakeRegistry::keyName(root, name(in, true));
        const std::string value = name(in);
        const std::uint32_t type = in.ConsumeBool() ? in.ConsumeIntegralInRange<std::uint32_t>(0, 5)
                                                    : in.ConsumeIntegral<std::uint32_t>();
        registry.keys[key][value] = {type, in.ConsumeRandomLengthString(in.ConsumeBool() ? 300 : 8)};
    }

    while (in.remaining_bytes() > 0) {
        registry.failures.clear();
        if (in.ConsumeBool()) {
            const auto call = FakeRegistry::Call(in.ConsumeIntegralInRange(0, 5));
            registry.failures[call] = in.PickValueInArray(codes);
        }
        const bool anyFailure = !registry.failures.empty();
        const bool MessageErreur = in.ConsumeBool();
        const std::size_t shownBefore = messages.shown.size();
        switch (in.ConsumeIntegralInRange(0, 4)) {
        case 0: {
            const std::uint32_t root = in.PickValueInArray(roots);
            const std::string path = name(in, true);
            const std::string value = name(in);
            const std::int32_t requested = in.ConsumeBool() ? in.ConsumeIntegralInRange(0, 5)
                                                            : in.ConsumeIntegral<std::int32_t>();
            RegValue read = std::string("unchanged");
            if (!routines.RegLectureValeur(root, path, value, requested, read, MessageErreur)) {
                FUZZ_CHECK(std::get<std::string>(read) == "unchanged", "a failed read changed the value");
                break;
            }
            FUZZ_CHECK(read.index() != 0, "a read succeeded with no value");
            const auto &values = registry.keys.at(FakeRegistry::keyName(root, path));
            if (const auto found = values.find(value); requested == 1 && found != values.end()
                && found->second.type == reg::REG_SZ && !found->second.bytes.empty())
                FUZZ_CHECK(std::get<std::string>(read) == found->second.bytes.substr(0, found->second.bytes.size() - 1),
                           "the text read is not the text stored");
            FUZZ_CHECK(anyFailure || messages.shown.size() == shownBefore, "a read that succeeded showed a message");
            break;
        }
        case 1: {
            const std::int32_t typeCode = in.ConsumeBool() ? in.PickValueInArray({1, 4, 0, 2})
                                                           : in.ConsumeIntegral<std::int32_t>();
            const std::string value = name(in);
            const std::string text = in.ConsumeRandomLengthString(300);
            if (routines.RegDemarrEcrire(typeCode, value, text, MessageErreur) && typeCode == 1 && !anyFailure) {
                RegValue read;
                FUZZ_CHECK(routines.RegLectureValeur(reg::HKEY_LOCAL_MACHINE, runPath, value, 1, read, true)
                               && std::get<std::string>(read) == text,
                           "a text just written cannot be read back as it was");
            }
            break;
        }
        case 2: routines.RegDemarrEffacer(name(in), MessageErreur); break;
        case 3:
            app.CléLectureValeur(ostrevol::HKey(in.PickValueInArray(roots)), name(in, true), name(in), MessageErreur);
            break;
        default: {
            const std::string title = name(in);
            const std::string folder = in.ConsumeRandomLengthString(100);
            app.RegDemarrAjoutApp(title, folder, in.ConsumeRandomLengthString(40), MessageErreur);
        }
        }
        FUZZ_CHECK(registry.keysLeftOpen() == 0, "%d keys left open", registry.keysLeftOpen());
    }
    return 0;
}
