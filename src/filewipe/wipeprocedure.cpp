#include "filewipe/wipeprocedure.h"
#include "platform/prompter.h"

namespace filewipe {

void runFileWipe(platform::Prompter& prompter)
{
    prompter.message(kWipeNotAvailable);
}

} // namespace filewipe
