#include "dali/dalibinsearch.h"

#include "dali/dalinetwork.h"

#include <QMutexLocker>

namespace halvorn::dali {

namespace {
constexpr uint64_t HighestRandomAddress = 0xFFFFFF;
}

DaliBinSearch::DaliBinSearch(const QString& name, DaliNetwork* network, Mode mode)
    : general::BinSearch(name, 0, HighestRandomAddress, false)
    , m_network(network)
    , m_mode(mode)
{
}

void DaliBinSearch::prepare()
{
    m_errorCount = 0;
    m_lastVerifyFailed = false;
    if (m_mode == AllDevices)
        m_network->removeShortAddressDevices();
    m_nextShortAddress = m_network->firstFreeShortAddress();

    QMutexLocker locker(&m_network->mutex());
    m_network->sendSpecial(DaliNetwork::Initialise, m_mode, 2);
    m_network->sendSpecial(DaliNetwork::Randomise, 0, 2);
    // Everything dims; each gear found lights up (mute).
    m_network->sendBroadcastCommand(DaliNetwork::RecallMinLevel, 1);
}

QString DaliBinSearch::searchAddressPrefix(uint32_t address) const
{
    return QStringLiteral("Search address [%1 %2 %3] - ")
        .arg(QString::number((address >> 16) & 0xFF, 16).toUpper(),
             QString::number((address >> 8) & 0xFF, 16).toUpper(),
             QString::number(address & 0xFF, 16).toUpper());
}

bool DaliBinSearch::setSearchAddress(uint32_t address)
{
    // The network remembers what is on the bus, also when a parameter read
    // (the short-address sequence) has moved the gear's search address.
    const uint32_t last = m_network->lastSearchAddress();
    const DaliNetwork::Special bytes[] = {DaliNetwork::SearchAddrH, DaliNetwork::SearchAddrM,
                                          DaliNetwork::SearchAddrL};
    bool sent = false;
    for (int i = 0; i < 3; ++i) {
        const int shift = 16 - 8 * i;
        const uint8_t byte = uint8_t(address >> shift);
        if (byte != uint8_t(last >> shift)) {
            m_network->sendSpecial(bytes[i], byte, 1);
            sent = true;
        }
    }
    return sent || (address >> 8) == 0xFFFF;
}

int DaliBinSearch::checkCondition(general::SearchNode* node)
{
    QMutexLocker locker(&m_network->mutex());
    const uint32_t address = uint32_t(node->high);
    if (!setSearchAddress(address))
        return NoReply;
    m_network->sendSpecial(DaliNetwork::Compare, 0, 1);

    const QString prefix = searchAddressPrefix(address);
    int result = NoReply;
    if (m_network->answerFailed()) {
        m_network->logSimple(prefix + QStringLiteral("ERROR"), general::FAILURE);
        result = MultipleReplies;
    } else if (m_network->hasAnswer()) {
        m_network->logSimple(prefix + QString::number(m_network->answerValue(), 16).toUpper(),
                             general::REPLY);
        result = SingleReply;
    } else {
        m_network->logSimple(prefix + QStringLiteral("NO REPLY"), general::NOREPLY);
    }
    traceCheckCondition(node, result);
    return result;
}

bool DaliBinSearch::verify(general::SearchNode* node)
{
    traceVerify(node);
    QMutexLocker locker(&m_network->mutex());
    const uint32_t address = uint32_t(node->low);
    setSearchAddress(address);
    const QString prefix = searchAddressPrefix(address);
    if (m_nextShortAddress < 0) {
        m_network->logSimple(prefix + QStringLiteral("No free short address left: search stopped"),
                             general::ERROR);
        abort();
        return false;
    }

    const int shortAddress = m_nextShortAddress;
    m_network->logSimple(prefix + QStringLiteral("Device found, programming short address: %1").arg(shortAddress),
                         general::INFO);
    m_network->sendSpecial(DaliNetwork::ProgramShortAddress, uint8_t(((shortAddress & 0x7F) << 1) + 1), 1);
    m_network->sendSpecial(DaliNetwork::QueryShortAddress, 0, 1);

    const bool answered = m_network->hasAnswer();
    if (answered && !m_network->answerFailed() && m_network->answerValue() == shortAddress * 2 + 1) {
        m_network->logSimple(QStringLiteral("Programmed short address verified"), general::INFO);
        m_lastVerifyFailed = false;
        return true;
    }
    m_network->logSimple(QStringLiteral("Unable to verify programmed short address"), general::ERROR);
    // Nothing at this search address is no error when the search came here
    // in its normal course: the generic search verifies single addresses
    // without asking them first, so about half of all verifications hit an
    // empty address next to the gear it then finds. After a failed
    // verification, though, the gear that failed is still in the search and
    // answers every COMPARE above its address, and the search would walk
    // the address space one verification at a time: those count.
    const bool counts = answered || m_lastVerifyFailed;
    m_lastVerifyFailed = true;
    if (counts && ++m_errorCount >= MaxErrors) {
        m_network->logSimple(QStringLiteral("Too many errors: Aborting search"), general::ERROR);
        abort();
    }
    return false;
}

void DaliBinSearch::mute(general::SearchNode* node)
{
    traceMute(node);
    QMutexLocker locker(&m_network->mutex());
    const int shortAddress = m_nextShortAddress;
    m_network->sendSpecial(DaliNetwork::Withdraw, 0, 1);
    m_network->sendShortCommand(shortAddress, DaliNetwork::RecallMaxLevel, 1);
    m_network->createDevice(uint(shortAddress), QStringLiteral("DALI Device %1").arg(shortAddress));
    m_nextShortAddress = m_network->firstFreeShortAddress();
}

} // namespace halvorn::dali
