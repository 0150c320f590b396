#include "basPublics.h"

#include "Configuration.h"

namespace basPublics {

namespace {
Configuration *theConfiguration = nullptr;
}

Configuration &Config()
{
    return *theConfiguration;
}

void setConfig(Configuration *config)
{
    theConfiguration = config;
}

} // namespace basPublics
