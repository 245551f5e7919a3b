#include "general/appsettings.h"

#include "general/configstore.h"
#include "general/log.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFileInfo>

namespace halvorn::general {

bool AppSettings::load()
{
    return load(QCoreApplication::applicationDirPath());
}

bool AppSettings::load(const QString& applicationDir)
{
    qDebug() << applicationDir;
    // A development checkout keeps a paths.json at its top; it is only noted.
    if (QFileInfo::exists(applicationDir + QStringLiteral("/../../../paths.json")))
        qDebug().noquote() << " overriding settings";

    const QString settingsDir = QDir(applicationDir).absoluteFilePath(QStringLiteral("settings"));
    if (!ConfigStore::importFile(settingsDir + QStringLiteral("/main_config.json")))
        return false;

    QStringList files;
    if (ConfigStore::getStringList(QStringLiteral("Settings"), files)) {
        for (const QString& file : std::as_const(files))
            ConfigStore::importFile(settingsDir + QLatin1Char('/') + file);
    }
    return true;
}

void AppSettings::start(const QString& name, const QString& version)
{
    m_name = name;
    m_version = version;
    logToMain(GENERAL, QStringLiteral("Starting ") + name + QStringLiteral(" v") + version, INFO);
    QCoreApplication::setApplicationName(name);
    QCoreApplication::setApplicationVersion(version);
}

QString AppSettings::manufacturer()
{
    QString manufacturer = QStringLiteral("Halvorn");
    ConfigStore::getString(QStringLiteral("Application|Manufacturer"), manufacturer);
    return manufacturer;
}

QString AppSettings::applicationName()
{
    QString name = QStringLiteral("Tivaro");
    ConfigStore::getString(QStringLiteral("Application|Name"), name);
    return name;
}

QString AppSettings::windowTitle()
{
    return manufacturer() + QLatin1Char(' ') + applicationName();
}

} // namespace halvorn::general
