#include "app/settings.h"

namespace app {

ProcessSettings& settings()
{
    static ProcessSettings s;
    return s;
}

} // namespace app
