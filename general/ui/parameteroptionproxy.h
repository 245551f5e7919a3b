#pragma once

#include "general/parameter.h"
#include "general/ui/parameterproxy.h"

#include <QList>
#include <QString>

#include <memory>
#include <vector>

namespace halvorn::general {

// A proxy that offers a choice between options, each of which stands for
// values of one or more parameters ("Linear" = parameter 12 at 0 and
// parameter 13 at 1). The value is the index of the first option whose
// first setting the device currently has; choosing an option writes all
// of its settings.
class ParameterOptionProxy : public ParameterProxy
{
    Q_OBJECT

public:
    struct Setting {
        uint number;
        int value;
    };
    class Option
    {
    public:
        Option(const QString& text, const QString& iconPath)
            : m_text(text)
            , m_iconPath(iconPath)
        {
        }
        void addSetting(uint number, int value) { m_settings.append({number, value}); }
        QString text() const { return m_text; }
        QString iconPath() const { return m_iconPath; }
        const QList<Setting>& settings() const { return m_settings; }

    private:
        QString m_text;
        QString m_iconPath;
        QList<Setting> m_settings;
    };

    ParameterOptionProxy();
    ~ParameterOptionProxy() override;

    // The new option; owned by the proxy.
    Option* addOption(const QString& text, const QString& iconPath = QString());
    int optionCount() const { return int(m_options.size()); }
    const Option* option(int index) const;

    // A device is set and holds every parameter the options name.
    bool isValid() const override;
    // Any of those parameters is read-only or could not be read.
    bool isReadOnly() const override;
    QString label() const override;
    QString toolTip() const override;
    int minimum() const override;
    int maximum() const override;
    void setValue(int index) override;
    int value() const override;

protected:
    void connectDevice(halvorn::general::Device* device) override;

private:
    std::vector<std::unique_ptr<Option>> m_options;
};

} // namespace halvorn::general
