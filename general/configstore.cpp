#include "general/configstore.h"

#include "general/log.h"

#include <QFile>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QVariantList>

#include <mutex>
#include <shared_mutex>

namespace halvorn::general {

namespace {

// The importer's messages carry a class of their own, outside the named ones.
constexpr MessageClass kImporterClass = MessageClass(15);

struct SettingsTree
{
    std::shared_mutex lock;
    // Every imported occurrence of each top-level key, oldest first.
    QHash<QString, QVariantList> occurrences; // guarded by lock
};

// Never destroyed: worker threads may read settings while static objects
// are torn down.
SettingsTree& tree()
{
    static SettingsTree* const instance = new SettingsTree;
    return *instance;
}

void logImport(const QString& text, MessageType type)
{
    logToMain(kImporterClass, text, type);
}

QString quoted(const QString& path)
{
    return QLatin1Char('"') + path + QLatin1Char('"');
}

int lineOfOffset(const QByteArray& data, int offset)
{
    return int(data.left(offset).count('\n')) + 1;
}

bool lookup(const QString& keyPath, QVariant& out)
{
    const QStringList segments = keyPath.split(QLatin1Char('|'), Qt::SkipEmptyParts);
    if (segments.isEmpty())
        return false;

    SettingsTree& t = tree();
    QVariant value;
    {
        std::shared_lock locker(t.lock);
        const auto found = t.occurrences.constFind(segments.first());
        if (found == t.occurrences.constEnd() || found->isEmpty())
            return false;
        value = found->last();
    }
    for (qsizetype i = 1; i < segments.size(); ++i) {
        if (value.typeId() != QMetaType::QVariantMap)
            return false;
        const QVariantMap map = value.toMap();
        const auto member = map.constFind(segments[i]);
        if (member == map.constEnd())
            return false;
        value = member.value();
    }
    out = value;
    return true;
}

} // namespace

void ConfigStore::clear()
{
    SettingsTree& t = tree();
    std::unique_lock locker(t.lock);
    t.occurrences.clear();
}

bool ConfigStore::importFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        logImport(QStringLiteral("Can't import config file: ") + quoted(path), INFO);
        return false;
    }
    logImport(QStringLiteral("Importing config file: ") + quoted(path), INFO);
    const QByteArray data = file.readAll();
    file.close();

    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(data, &error);
    QVariantMap root;
    if (error.error == QJsonParseError::NoError && document.isObject())
        root = document.object().toVariantMap();

    {
        SettingsTree& t = tree();
        std::unique_lock locker(t.lock);
        for (auto it = root.constEnd(); it != root.constBegin();) {
            --it;
            t.occurrences[it.key()].append(it.value());
        }
    }

    if (error.error != QJsonParseError::NoError) {
        logImport(QStringLiteral("Error parsing file ") + quoted(path) + QStringLiteral(" at line: ")
                      + QString::number(lineOfOffset(data, error.offset)) + QStringLiteral(" : ")
                      + error.errorString(),
                  ERROR);
    } else if (!document.isObject()) {
        logImport(QStringLiteral("Ignoring config file ") + quoted(path)
                      + QStringLiteral(": its top level is not a JSON object"),
                  ERROR);
    }
    return true;
}

bool ConfigStore::getValue(const QString& keyPath, QVariant& out)
{
    return lookup(keyPath, out);
}

bool ConfigStore::getString(const QString& keyPath, QString& out)
{
    QVariant value;
    if (!lookup(keyPath, value))
        return false;
    out = value.toString();
    return true;
}

bool ConfigStore::getInt(const QString& keyPath, int& out)
{
    QVariant value;
    if (!lookup(keyPath, value))
        return false;
    bool ok = false;
    out = value.toInt(&ok);
    return ok;
}

bool ConfigStore::getBool(const QString& keyPath, bool& out)
{
    QVariant value;
    if (!lookup(keyPath, value))
        return false;
    out = value.toBool();
    return true;
}

bool ConfigStore::getFloat(const QString& keyPath, float& out)
{
    QVariant value;
    if (!lookup(keyPath, value))
        return false;
    out = value.toFloat();
    return true;
}

bool ConfigStore::getStringList(const QString& keyPath, QStringList& out)
{
    QVariant value;
    if (!lookup(keyPath, value) || value.typeId() != QMetaType::QVariantList)
        return false;
    QStringList list;
    const QVariantList elements = value.toList();
    list.reserve(elements.size());
    for (const QVariant& element : elements)
        list.append(element.toString());
    out = list;
    return true;
}

bool ConfigStore::getKeys(const QString& keyPath, QStringList& out)
{
    QVariant value;
    if (!lookup(keyPath, value) || value.typeId() != QMetaType::QVariantMap)
        return false;
    out = value.toMap().keys();
    return true;
}

} // namespace halvorn::general
