#pragma once

#include <QString>

namespace halvorn::general {

// The application's identity and the loading of the settings files.
//
// The settings live in the folder "settings" beside the program: first
// main_config.json, then the files its "Settings" array names, in order.
class AppSettings
{
public:
    // Loads the settings folder beside the program.
    bool load();
    // Loads the "settings" folder inside `applicationDir`. Returns whether
    // main_config.json could be imported (nothing else is read otherwise).
    bool load(const QString& applicationDir);

    // Records the name and version, logs "Starting <name> v<version>" and
    // sets them as the application's name and version.
    void start(const QString& name, const QString& version);

    QString name() const { return m_name; }
    QString version() const { return m_version; }

    // "<Application|Manufacturer> <Application|Name>" from the settings,
    // with the defaults "Halvorn" and "Tivaro".
    static QString manufacturer();
    static QString applicationName();
    static QString windowTitle();

private:
    QString m_name;
    QString m_version;
};

} // namespace halvorn::general
