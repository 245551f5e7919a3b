#include "cli/clicommand.h"

namespace halvorn::cli {

QString DaliTarget::text() const
{
    switch (kind) {
    case Short:
        return QStringLiteral("short %1").arg(address);
    case Group:
        return QStringLiteral("group %1").arg(address);
    case Broadcast:
        break;
    }
    return QStringLiteral("broadcast");
}

bool KeymarkSettings::isEmpty() const
{
    for (const std::optional<int>& current : currentsMa)
        if (current)
            return false;
    return !curve && !minLevelPercent && !ntcCelsius;
}

} // namespace halvorn::cli
