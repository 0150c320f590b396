#include "basPublics.h"

#include "Configuration.h"

namespace basPublics {

namespace {
std::unique_ptr<Configuration> settings;
}

Configuration *Config()
{
    return settings.get();
}

void setConfig(std::unique_ptr<Configuration> config)
{
    settings = std::move(config);
}

} // namespace basPublics
