#include "dali/dalishortsearch.h"

#include "dali/dalinetwork.h"
#include "general/log.h"

#include <QMutexLocker>

namespace halvorn::dali {

DaliShortSearch::DaliShortSearch(const QString& name, DaliNetwork* network)
    : general::Search(name, false)
    , m_network(network)
{
}

void DaliShortSearch::execute()
{
    general::logToMain(general::GENERAL, QStringLiteral("Searching short addresses"), general::INFO);
    m_network->removeShortAddressDevices();
    for (int n = 0; n <= DaliNetwork::HighestShortAddress; ++n) {
        if (isAborted())
            return;
        reportProgress(n, DaliNetwork::HighestShortAddress);
        QMutexLocker locker(&m_network->mutex());
        m_network->sendShortCommand(n, DaliNetwork::QueryControlGear, 1);
        if (!m_network->hasAnswer())
            continue;
        general::logToMain(general::GENERAL, QStringLiteral("Found short address: %1").arg(n),
                           general::INFO);
        m_network->createDevice(uint(n), QStringLiteral("DALI Device %1").arg(n));
    }
}

} // namespace halvorn::dali
