// Writes `count` keys named <prefix><i> = <i> through the settings store, one
// write at a time, as a program assigning settings does.
#include "IniSettingsStore.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char *argv[])
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: settings_writer FILE SECTION PREFIX COUNT\n");
        return 2;
    }
    IniSettingsStore store(QString::fromLocal8Bit(argv[1]));
    const QString section = QString::fromUtf8(argv[2]);
    const QString prefix = QString::fromUtf8(argv[3]);
    const int count = std::atoi(argv[4]);
    for (int i = 0; i < count; ++i) {
        if (!store.write(section, prefix + QString::number(i), QString::number(i)))
            return 1;
    }
    return 0;
}
