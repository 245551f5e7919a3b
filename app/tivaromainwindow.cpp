#include "app/tivaromainwindow.h"

#include "general/log.h"
#include "general/threadnames.h"

#include <QThread>

using namespace halvorn::general;

TivaroMainWindow::TivaroMainWindow(QWidget* parent)
    : QMainWindow(parent)
{
    setThreadName(QThread::currentThread(), QStringLiteral("UI"));
    logToMain(GENERAL, QStringLiteral("Tivaro Started"), INFO);

    m_settings.load();
    m_settings.start(QStringLiteral("Tivaro"), QStringLiteral(TIVARO_VERSION));

    m_manufacturer = AppSettings::manufacturer();
    m_name = AppSettings::applicationName();
    m_title = m_manufacturer + QLatin1Char(' ') + m_name;
    setWindowTitle(m_title);

    setMinimumSize(800, 600);
}

TivaroMainWindow::~TivaroMainWindow() = default;
