#include "sim/siminstallation.h"

#include "sim/simdongle.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QSaveFile>

namespace halvorn::sim {

namespace {

const QString DonglesKey = QStringLiteral("dongles");

} // namespace

QJsonObject SimInstallation::builtIn()
{
    SimDongle dongle(5, 0x007F);
    // Four DALI gear, not yet commissioned, on a bus with a supply of its
    // own, as installed buses have (so they answer without the dongle's).
    dongle.daliBus().setExternalSupply(true);
    dongle.daliBus().addRandomGear(4, 2024);
    // One driver on the DMX line, with device address 1, and two more behind
    // it in its daisy chain. Only one driver answers directly, so the DMX
    // page (which talks to every driver at once) can read its settings.
    SimDmxLine& line = dongle.dmxLine();
    const int chain = line.addDriver(SimDriver::halvorn(0x4A1B2C01, 0x485600000101, 1));
    line.addChainedDriver(chain, SimDriver::halvorn(0x4A1B2C02, 0x485600000102));
    line.addChainedDriver(chain, SimDriver::halvorn(0x4A1B2C03, 0x485600000103));
    // The Keymark port holds a tag from the start.

    QJsonObject installation;
    installation.insert(DonglesKey, QJsonArray{dongle.save()});
    return installation;
}

bool SimInstallation::parse(const QJsonObject& installation, QList<std::shared_ptr<SimDongle>>& dongles,
                            QString* error)
{
    dongles.clear();
    const QJsonValue list = installation.value(DonglesKey);
    if (!list.isArray()) {
        if (error)
            *error = QStringLiteral("the installation needs a \"dongles\" array");
        return false;
    }
    const QJsonArray entries = list.toArray();
    for (int i = 0; i < entries.size(); ++i) {
        QString entryError;
        auto dongle = std::make_shared<SimDongle>();
        bool loaded = false;
        if (!entries.at(i).isObject())
            entryError = QStringLiteral("not an object");
        else if (!(loaded = dongle->load(entries.at(i).toObject(), &entryError)) && entryError.isEmpty())
            entryError = QStringLiteral("malformed entry");
        if (!loaded) {
            if (error)
                *error = QStringLiteral("dongle %1: %2").arg(i + 1).arg(entryError);
            dongles.clear();
            return false;
        }
        dongles.append(dongle);
    }
    return true;
}

QJsonObject SimInstallation::toJson(const QList<std::shared_ptr<SimDongle>>& dongles)
{
    QJsonArray entries;
    for (const auto& dongle : dongles)
        entries.append(dongle->save());
    QJsonObject installation;
    installation.insert(DonglesKey, entries);
    return installation;
}

bool SimInstallation::readFile(const QString& path, QJsonObject& installation, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("cannot open \"%1\": %2").arg(path, file.errorString());
        return false;
    }
    const QByteArray text = file.readAll();
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(text, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        const int line = int(text.left(parseError.offset).count('\n')) + 1;
        if (error)
            *error = QStringLiteral("\"%1\" line %2: %3").arg(path).arg(line).arg(parseError.errorString());
        return false;
    }
    if (!document.isObject()) {
        if (error)
            *error = QStringLiteral("\"%1\": the installation must be a JSON object").arg(path);
        return false;
    }
    installation = document.object();
    return true;
}

bool SimInstallation::writeFile(const QString& path, const QJsonObject& installation, QString* error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)
        || file.write(QJsonDocument(installation).toJson(QJsonDocument::Indented)) < 0
        || !file.commit()) {
        if (error)
            *error = QStringLiteral("cannot write \"%1\": %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

} // namespace halvorn::sim
