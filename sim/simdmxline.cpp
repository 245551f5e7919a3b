#include "sim/simdmxline.h"

#include <QJsonArray>
#include <QMutexLocker>

#include <algorithm>

namespace halvorn::sim {

namespace {

const QLatin1String CollisionsKey("collisions");
const QLatin1String DriversKey("drivers");
const QLatin1String ChainKey("chain");
const QLatin1String RandomKey("random");

QString collisionModeName(SimDmxLine::CollisionMode mode)
{
    return mode == SimDmxLine::CollisionMode::Garbled ? QStringLiteral("garbled")
                                                      : QStringLiteral("reception-error");
}

} // namespace

SimAnswer SimDmxLine::handleFrame(const QByteArray& frame)
{
    QMutexLocker lock(&m_mutex);
    ++m_commandFrameCount;
    m_lastCommandFrame = frame;

    QList<QByteArray> answers;
    const auto* bytes = reinterpret_cast<const quint8*>(frame.constData());
    if (!frame.isEmpty() && bytes[0] == SimDriverFrame::StartByte) {
        const SimDriverFrame command(bytes, int(frame.size()));
        if (command.valid() && command.checksumOk() && (command.isCommand() || command.isSkip()))
            collectChorusAnswers(command, answers);
    } else if (!frame.isEmpty() && bytes[0] == SimRdmPacket::StartCode) {
        collectRdmAnswers(frame, answers);
    }
    SimAnswer answer = combineAnswers(answers);
    answer.data.truncate(MaxAnswerLength);
    return answer;
}

void SimDmxLine::collectChorusAnswers(const SimDriverFrame& command, QList<QByteArray>& answers)
{
    auto handle = [&](SimDriver& driver, bool broadcast) {
        if (const auto reply = driver.handleChorus(command, broadcast))
            answers.append(QByteArray(reinterpret_cast<const char*>(reply->data()), SimDriverFrame::Length));
    };

    if (command.isSkip()) {
        // The frame has room for the low byte of the head's address only.
        const size_t place = command.skipCount();
        for (Chain& chain : m_chains) {
            if ((chain.front().lid() & 0xFF) == command.skipAddressLow() && place < chain.size())
                handle(chain[place], false);
        }
        return;
    }
    if (command.address() == 0) {
        // The drivers behind a head are reached only by skip addressing: a
        // broadcast reaches the heads of the chains.
        for (Chain& chain : m_chains)
            handle(chain.front(), true);
        return;
    }
    for (Chain& chain : m_chains) {
        if (chain.front().lid() == command.address())
            handle(chain.front(), false);
    }
}

void SimDmxLine::collectRdmAnswers(const QByteArray& frame, QList<QByteArray>& answers)
{
    SimRdmPacket request;
    if (!SimRdmPacket::parse(reinterpret_cast<const quint8*>(frame.constData()), int(frame.size()),
                             request))
        return;
    for (Chain& chain : m_chains) {
        const QByteArray response = chain.front().handleRdm(request);
        if (!response.isEmpty())
            answers.append(response);
    }
}

SimAnswer SimDmxLine::combineAnswers(const QList<QByteArray>& answers) const
{
    if (answers.isEmpty())
        return SimAnswer::none();
    if (answers.size() == 1)
        return SimAnswer::answered(answers.front());
    // Drivers talking over each other: a bit survives as 1 only where all
    // of them sent 1 (an idle line reads as 1 where one has finished).
    qsizetype longest = 0;
    for (const QByteArray& a : answers)
        longest = std::max(longest, a.size());
    QByteArray garbled(longest, char(0xFF));
    for (const QByteArray& a : answers) {
        for (qsizetype i = 0; i < a.size(); ++i)
            garbled[i] = char(garbled[i] & a[i]);
    }
    return m_collisionMode == CollisionMode::Garbled ? SimAnswer::answered(garbled)
                                                     : SimAnswer::receptionError(garbled);
}

void SimDmxLine::setpointFrame(const QByteArray& levels, bool chorusOutput, quint8 chorusMode)
{
    const int count = int(std::min<qsizetype>(levels.size(), MaxSlots));
    const auto* slotValues = reinterpret_cast<const quint8*>(levels.constData());
    QMutexLocker lock(&m_mutex);
    m_lastFrame = levels.left(count);
    m_lastChorusOutput = chorusOutput;
    m_lastChorusMode = chorusMode;
    ++m_frameCount;
    for (Chain& chain : m_chains) {
        for (SimDriver& driver : chain)
            driver.receiveDmxFrame(slotValues, count);
    }
}

void SimDmxLine::powerUp()
{
    QMutexLocker lock(&m_mutex);
    m_lastFrame.clear();
    m_lastChorusOutput = false;
    m_lastChorusMode = 0;
}

QByteArray SimDmxLine::lastFrame() const
{
    QMutexLocker lock(&m_mutex);
    return m_lastFrame;
}

bool SimDmxLine::lastFrameChorusOutput() const
{
    QMutexLocker lock(&m_mutex);
    return m_lastChorusOutput;
}

quint8 SimDmxLine::lastFrameChorusMode() const
{
    QMutexLocker lock(&m_mutex);
    return m_lastChorusMode;
}

int SimDmxLine::frameCount() const
{
    QMutexLocker lock(&m_mutex);
    return m_frameCount;
}

int SimDmxLine::commandFrameCount() const
{
    QMutexLocker lock(&m_mutex);
    return m_commandFrameCount;
}

QByteArray SimDmxLine::lastCommandFrame() const
{
    QMutexLocker lock(&m_mutex);
    return m_lastCommandFrame;
}

int SimDmxLine::addDriver(const SimDriver& driver)
{
    QMutexLocker lock(&m_mutex);
    m_chains.push_back(Chain{driver});
    updateCellCounts(m_chains.back());
    return int(m_chains.size()) - 1;
}

int SimDmxLine::addChainedDriver(int chain, const SimDriver& driver)
{
    QMutexLocker lock(&m_mutex);
    if (chain < 0 || size_t(chain) >= m_chains.size())
        return -1;
    Chain& target = m_chains[size_t(chain)];
    target.push_back(driver);
    updateCellCounts(target);
    return int(target.size()) - 1;
}

QList<int> SimDmxLine::addRandomDrivers(int count, quint32 seed, quint16 manufacturerId)
{
    QList<int> indices;
    for (const SimDriver& driver : SimDriver::randomDrivers(count, seed, manufacturerId))
        indices.append(addDriver(driver));
    return indices;
}

bool SimDmxLine::removeChain(int chain)
{
    QMutexLocker lock(&m_mutex);
    if (chain < 0 || size_t(chain) >= m_chains.size())
        return false;
    m_chains.erase(m_chains.begin() + chain);
    return true;
}

void SimDmxLine::removeAllDrivers()
{
    QMutexLocker lock(&m_mutex);
    m_chains.clear();
}

int SimDmxLine::chainCount() const
{
    QMutexLocker lock(&m_mutex);
    return int(m_chains.size());
}

int SimDmxLine::chainLength(int chain) const
{
    QMutexLocker lock(&m_mutex);
    if (chain < 0 || size_t(chain) >= m_chains.size())
        return 0;
    return int(m_chains[size_t(chain)].size());
}

int SimDmxLine::driverCount() const
{
    QMutexLocker lock(&m_mutex);
    size_t count = 0;
    for (const Chain& chain : m_chains)
        count += chain.size();
    return int(count);
}

SimDriver* SimDmxLine::at(int chain, int place)
{
    if (chain < 0 || size_t(chain) >= m_chains.size())
        return nullptr;
    Chain& drivers = m_chains[size_t(chain)];
    if (place < 0 || size_t(place) >= drivers.size())
        return nullptr;
    return &drivers[size_t(place)];
}

const SimDriver* SimDmxLine::at(int chain, int place) const
{
    return const_cast<SimDmxLine*>(this)->at(chain, place);
}

std::optional<SimDriver> SimDmxLine::driver(int chain, int place) const
{
    QMutexLocker lock(&m_mutex);
    if (const SimDriver* found = at(chain, place))
        return *found;
    return std::nullopt;
}

std::optional<SimDriver> SimDmxLine::driverByUid(quint64 uid) const
{
    QMutexLocker lock(&m_mutex);
    for (const Chain& chain : m_chains) {
        for (const SimDriver& driver : chain) {
            if (driver.uid() == uid)
                return driver;
        }
    }
    return std::nullopt;
}

std::optional<SimDriver> SimDmxLine::driverByGuid(quint32 guid) const
{
    QMutexLocker lock(&m_mutex);
    for (const Chain& chain : m_chains) {
        for (const SimDriver& driver : chain) {
            if (driver.guid() == guid)
                return driver;
        }
    }
    return std::nullopt;
}

QList<SimDriver> SimDmxLine::drivers() const
{
    QMutexLocker lock(&m_mutex);
    QList<SimDriver> all;
    for (const Chain& chain : m_chains) {
        for (const SimDriver& driver : chain)
            all.append(driver);
    }
    return all;
}

bool SimDmxLine::setDriver(int chain, int place, const SimDriver& driver)
{
    QMutexLocker lock(&m_mutex);
    SimDriver* target = at(chain, place);
    if (!target)
        return false;
    *target = driver;
    return true;
}

bool SimDmxLine::updateDriver(int chain, int place, const std::function<void(SimDriver&)>& change)
{
    QMutexLocker lock(&m_mutex);
    SimDriver* target = at(chain, place);
    if (!target || !change)
        return false;
    change(*target);
    return true;
}

void SimDmxLine::setCollisionMode(CollisionMode mode)
{
    QMutexLocker lock(&m_mutex);
    m_collisionMode = mode;
}

SimDmxLine::CollisionMode SimDmxLine::collisionMode() const
{
    QMutexLocker lock(&m_mutex);
    return m_collisionMode;
}

void SimDmxLine::updateCellCounts(Chain& chain)
{
    for (size_t place = 0; place < chain.size(); ++place)
        chain[place].setParameterValue(SimDriver::CellCountParameter, quint16(chain.size() - place - 1));
}

QJsonObject SimDmxLine::save() const
{
    QMutexLocker lock(&m_mutex);
    QJsonArray drivers;
    for (const Chain& chain : m_chains) {
        QJsonObject head = chain.front().toJson();
        QJsonArray cells;
        for (size_t place = 1; place < chain.size(); ++place)
            cells.append(chain[place].toJson());
        if (!cells.isEmpty())
            head[ChainKey] = cells;
        drivers.append(head);
    }
    QJsonObject section;
    section[CollisionsKey] = collisionModeName(m_collisionMode);
    section[DriversKey] = drivers;
    return section;
}

bool SimDmxLine::load(const QJsonObject& section, QString* error)
{
    auto fail = [error](const QString& message) {
        if (error)
            *error = QStringLiteral("dmx: ") + message;
        return false;
    };

    CollisionMode mode = CollisionMode::ReceptionError;
    const QString modeName = section.value(CollisionsKey).toString(collisionModeName(mode));
    if (modeName == collisionModeName(CollisionMode::Garbled))
        mode = CollisionMode::Garbled;
    else if (modeName != collisionModeName(CollisionMode::ReceptionError))
        return fail(QStringLiteral("unknown collisions \"%1\" (\"reception-error\" or \"garbled\")")
                        .arg(modeName));

    const QJsonValue driversValue = section.value(DriversKey);
    if (!driversValue.isUndefined() && !driversValue.isArray())
        return fail(QStringLiteral("\"drivers\" is not a list"));
    std::vector<Chain> chains;
    const QJsonArray heads = driversValue.toArray();
    for (qsizetype i = 0; i < heads.size(); ++i) {
        if (!heads.at(i).isObject())
            return fail(QStringLiteral("drivers[%1] is not an object").arg(i));
        const QJsonObject headObject = heads.at(i).toObject();
        QString message;
        const auto head = SimDriver::fromJson(headObject, &message);
        if (!head)
            return fail(QStringLiteral("drivers[%1]: %2").arg(i).arg(message));
        Chain chain{*head};
        const QJsonValue cellsValue = headObject.value(ChainKey);
        if (!cellsValue.isUndefined() && !cellsValue.isArray())
            return fail(QStringLiteral("drivers[%1]: \"chain\" is not a list").arg(i));
        const QJsonArray cells = cellsValue.toArray();
        for (qsizetype k = 0; k < cells.size(); ++k) {
            const auto cell = cells.at(k).isObject()
                                  ? SimDriver::fromJson(cells.at(k).toObject(), &message)
                                  : std::nullopt;
            if (!cell) {
                if (!cells.at(k).isObject())
                    message = QStringLiteral("not an object");
                return fail(QStringLiteral("drivers[%1].chain[%2]: %3").arg(i).arg(k).arg(message));
            }
            chain.push_back(*cell);
        }
        updateCellCounts(chain);
        chains.push_back(std::move(chain));
    }

    const QJsonValue randomValue = section.value(RandomKey);
    if (!randomValue.isUndefined()) {
        const QJsonObject random = randomValue.toObject();
        const auto count = SimDriver::readNumber(random.value(QStringLiteral("count")), 10000);
        const auto seed = SimDriver::readNumber(random.value(QStringLiteral("seed")), 0xFFFFFFFFu);
        const QJsonValue manufacturerValue = random.value(QStringLiteral("manufacturer"));
        const auto manufacturer = manufacturerValue.isUndefined()
                                      ? std::optional<quint64>(SimDriver::HalvornManufacturerId)
                                      : SimDriver::readNumber(manufacturerValue, 0xFFFF);
        if (!randomValue.isObject() || !count || !seed || !manufacturer)
            return fail(QStringLiteral("\"random\" needs a count (0..10000), a seed (0..4294967295) "
                                       "and optionally a manufacturer (0..0xFFFF)"));
        const quint16 id = quint16(*manufacturer);
        for (const SimDriver& driver : SimDriver::randomDrivers(int(*count), quint32(*seed), id))
            chains.push_back(Chain{driver});
    }

    QMutexLocker lock(&m_mutex);
    m_collisionMode = mode;
    m_chains = std::move(chains);
    return true;
}

QJsonObject SimDmxLine::exampleSection()
{
    SimDmxLine line;
    const QList<SimDriver> drivers = SimDriver::randomDrivers(5, 2024);
    const int first = line.addDriver(drivers[0]);
    line.addChainedDriver(first, drivers[1]);
    line.addChainedDriver(first, drivers[2]);
    line.addDriver(drivers[3]);
    SimDriver sixteenBit = drivers[4];
    sixteenBit.setParameterValue(SimDriver::StartAddressParameter, 9);
    sixteenBit.setParameterValue(SimDriver::ResolutionParameter, 0);
    line.addDriver(sixteenBit);
    return line.save();
}

} // namespace halvorn::sim
