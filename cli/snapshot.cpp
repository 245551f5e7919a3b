#include "cli/snapshot.h"

#include "cli/numbers.h"

#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>

namespace halvorn::cli {

namespace {

const QString FormatName = QStringLiteral("tivaro-snapshot");

struct TypeName
{
    CliCommand::SnapshotKind type;
    const char* name;
};

constexpr TypeName TypeNames[] = {
    {CliCommand::SnapshotKind::Dali, "dali"},
    {CliCommand::SnapshotKind::Dmx, "dmx"},
    {CliCommand::SnapshotKind::Keymark, "keymark"},
};

QJsonValue optional(const std::optional<int>& value)
{
    return value ? QJsonValue(*value) : QJsonValue(QJsonValue::Null);
}

// An integer 0..max, or null/absent for "unknown"; false when it is neither.
bool readOptional(const QJsonObject& object, const QString& key, qint64 max, std::optional<int>& out)
{
    const QJsonValue value = object.value(key);
    if (value.isUndefined() || value.isNull())
        return true;
    const double number = value.toDouble(-1.0);
    if (!value.isDouble() || number < 0 || number > double(max) || number != double(qint64(number)))
        return false;
    out = int(number);
    return true;
}

bool fail(QString* error, const QString& text)
{
    if (error)
        *error = text;
    return false;
}

} // namespace

QString Snapshot::typeName(CliCommand::SnapshotKind type)
{
    for (const TypeName& entry : TypeNames)
        if (entry.type == type)
            return QLatin1String(entry.name);
    return QString();
}

QString Snapshot::deviceText() const
{
    switch (type) {
    case CliCommand::SnapshotKind::Dali:
        return QStringLiteral("DALI ") + target.text();
    case CliCommand::SnapshotKind::Dmx:
        return skip == 0 ? QStringLiteral("driver LID %1").arg(lid) : QStringLiteral("driver LID %1 skip %2").arg(lid).arg(skip);
    case CliCommand::SnapshotKind::Keymark:
        break;
    }
    return QStringLiteral("Keymark tag");
}

QJsonObject Snapshot::toJson() const
{
    QJsonObject device;
    device.insert(QStringLiteral("type"), typeName(type));
    switch (type) {
    case CliCommand::SnapshotKind::Dali:
        device.insert(QStringLiteral("target"), target.kind == DaliTarget::Broadcast ? QJsonValue(QStringLiteral("broadcast"))
                                                                                     : QJsonValue(target.address));
        device.insert(QStringLiteral("deviceType"), optional(deviceType));
        break;
    case CliCommand::SnapshotKind::Dmx:
        device.insert(QStringLiteral("lid"), lid);
        device.insert(QStringLiteral("skip"), skip);
        device.insert(QStringLiteral("hardwareType"), optional(hardwareType));
        device.insert(QStringLiteral("hardwareVersion"), optional(hardwareVersion));
        device.insert(QStringLiteral("guid"), guid ? QJsonValue(hexText(*guid, 8)) : QJsonValue(QJsonValue::Null));
        break;
    case CliCommand::SnapshotKind::Keymark:
        device.insert(QStringLiteral("deviceType"), optional(deviceType));
        break;
    }

    QJsonArray list;
    for (const Entry& entry : parameters) {
        QJsonObject object;
        object.insert(QStringLiteral("number"), qint64(entry.number));
        object.insert(QStringLiteral("name"), entry.name);
        object.insert(QStringLiteral("value"), optional(entry.value));
        object.insert(QStringLiteral("readOnly"), entry.readOnly);
        list.append(object);
    }

    QJsonObject document;
    document.insert(QStringLiteral("format"), FormatName);
    document.insert(QStringLiteral("version"), FormatVersion);
    document.insert(QStringLiteral("tool"), QStringLiteral("tivaro-cli " TIVARO_VERSION));
    document.insert(QStringLiteral("created"), QDateTime::currentDateTimeUtc().toString(Qt::ISODate));
    document.insert(QStringLiteral("device"), device);
    document.insert(QStringLiteral("parameters"), list);
    return document;
}

bool Snapshot::fromJson(const QJsonObject& document, Snapshot& snapshot, QString* error)
{
    if (document.value(QStringLiteral("format")).toString() != FormatName)
        return fail(error, QStringLiteral("not a snapshot of tivaro-cli (\"format\" is not \"%1\")").arg(FormatName));
    if (document.value(QStringLiteral("version")).toInt(-1) != FormatVersion)
        return fail(error, QStringLiteral("snapshot version %1 is not supported (this tool reads version %2)")
                               .arg(document.value(QStringLiteral("version")).toVariant().toString())
                               .arg(FormatVersion));
    const QJsonObject device = document.value(QStringLiteral("device")).toObject();
    const QString typeText = device.value(QStringLiteral("type")).toString();
    bool known = false;
    for (const TypeName& entry : TypeNames) {
        if (typeText == QLatin1String(entry.name)) {
            snapshot.type = entry.type;
            known = true;
        }
    }
    if (!known)
        return fail(error, QStringLiteral("unknown device type \"%1\" (dali, dmx or keymark)").arg(typeText));

    switch (snapshot.type) {
    case CliCommand::SnapshotKind::Dali: {
        const QJsonValue target = device.value(QStringLiteral("target"));
        if (target.toString() == QLatin1String("broadcast")) {
            snapshot.target = DaliTarget{};
        } else if (target.isDouble() && target.toInt(-1) >= 0 && target.toInt(-1) <= 63) {
            snapshot.target = DaliTarget{DaliTarget::Short, target.toInt()};
        } else {
            return fail(error, QStringLiteral("device \"target\" must be a short address 0..63 or \"broadcast\""));
        }
        if (!readOptional(device, QStringLiteral("deviceType"), 255, snapshot.deviceType))
            return fail(error, QStringLiteral("device \"deviceType\" must be 0..255 or null"));
        break;
    }
    case CliCommand::SnapshotKind::Dmx: {
        std::optional<int> lid;
        std::optional<int> skip;
        if (!readOptional(device, QStringLiteral("lid"), 65535, lid) || !lid)
            return fail(error, QStringLiteral("device \"lid\" must be 0..65535"));
        if (!readOptional(device, QStringLiteral("skip"), 255, skip))
            return fail(error, QStringLiteral("device \"skip\" must be 0..255"));
        snapshot.lid = *lid;
        snapshot.skip = skip.value_or(0);
        if (!readOptional(device, QStringLiteral("hardwareType"), 65535, snapshot.hardwareType)
            || !readOptional(device, QStringLiteral("hardwareVersion"), 65535, snapshot.hardwareVersion))
            return fail(error, QStringLiteral("device \"hardwareType\" and \"hardwareVersion\" must be 0..65535 or null"));
        const QJsonValue guid = device.value(QStringLiteral("guid"));
        if (guid.isString()) {
            const std::optional<qint64> value = parseInteger(guid.toString(), 0, 0xFFFFFFFFLL);
            if (!value)
                return fail(error, QStringLiteral("device \"guid\" must be a 32-bit number such as \"0x4A1B2C01\""));
            snapshot.guid = quint32(*value);
        }
        break;
    }
    case CliCommand::SnapshotKind::Keymark:
        if (!readOptional(device, QStringLiteral("deviceType"), 255, snapshot.deviceType))
            return fail(error, QStringLiteral("device \"deviceType\" must be 0..255 or null"));
        break;
    }

    const QJsonValue list = document.value(QStringLiteral("parameters"));
    if (!list.isArray())
        return fail(error, QStringLiteral("\"parameters\" must be a list"));
    const QJsonArray entries = list.toArray();
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const QJsonObject object = entries.at(i).toObject();
        std::optional<int> number;
        Entry entry;
        if (!entries.at(i).isObject() || !readOptional(object, QStringLiteral("number"), 0xFFFF, number) || !number)
            return fail(error, QStringLiteral("parameters[%1]: \"number\" must be 0..65535").arg(i));
        if (!readOptional(object, QStringLiteral("value"), 0xFFFF, entry.value))
            return fail(error, QStringLiteral("parameters[%1]: \"value\" must be 0..65535 or null").arg(i));
        const QJsonValue readOnly = object.value(QStringLiteral("readOnly"));
        if (!readOnly.isUndefined() && !readOnly.isBool())
            return fail(error, QStringLiteral("parameters[%1]: \"readOnly\" must be true or false").arg(i));
        entry.number = uint(*number);
        entry.name = object.value(QStringLiteral("name")).toString();
        entry.readOnly = readOnly.toBool(false);
        snapshot.parameters.append(entry);
    }
    return true;
}

bool Snapshot::readFile(const QString& path, Snapshot& snapshot, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(error, QStringLiteral("cannot open \"%1\": %2").arg(path, file.errorString()));
    const QByteArray text = file.readAll();
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(text, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        const int line = int(text.left(parseError.offset).count('\n')) + 1;
        return fail(error, QStringLiteral("\"%1\" line %2: %3").arg(path).arg(line).arg(parseError.errorString()));
    }
    QString problem;
    if (!document.isObject() || !fromJson(document.object(), snapshot, &problem))
        return fail(error, QStringLiteral("\"%1\": %2").arg(path, problem.isEmpty() ? QStringLiteral("not a JSON object") : problem));
    return true;
}

} // namespace halvorn::cli
