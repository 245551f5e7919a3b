#pragma once

#include "general/log.h"

namespace halvorn::general {

// The log of one bus network. It runs in a thread of its own, which the
// network starts in setLog() and stops when it is destroyed.
class NetworkLog : public Log
{
    Q_OBJECT

public:
    using Log::Log;
};

} // namespace halvorn::general
