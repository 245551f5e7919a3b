#pragma once

#include "general/appsettings.h"

#include <QMainWindow>
#include <QString>

// The program's single top-level window. Constructing it loads the settings
// and logs the start of the program.
class TivaroMainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit TivaroMainWindow(QWidget* parent = nullptr);
    ~TivaroMainWindow() override;

    QString title() const { return m_title; }

private:
    halvorn::general::AppSettings m_settings;
    QString m_name;
    QString m_manufacturer;
    QString m_title;
};
