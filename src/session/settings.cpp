#include "session/settings.h"

namespace session {

ProcessSettings& settings()
{
    static ProcessSettings s;
    return s;
}

} // namespace session
