#include "app/myapplication.h"
#include "app/screenshotter.h"
#include "app/startupoptions.h"
#include "app/tivaromainwindow.h"

#include "general/logfilewriter.h"

#include <QIcon>
#include <QSettings>
#include <QStringList>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>

int main(int argc, char* argv[])
{
    // Help and version are answered before the application object exists,
    // so that they work without a display.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const StartupOptions early = StartupOptions::parse(arguments);
    if (early.action == StartupOptions::Action::ShowHelp || early.action == StartupOptions::Action::ShowVersion) {
        std::fputs(qPrintable(early.message), stdout);
        return 0;
    }

    // Destroyed last, so that it sees every message logged until the end.
    std::unique_ptr<halvorn::general::LogFileWriter> logFile;

    // The application object takes Qt's own options (-platform, -style, ...)
    // off the command line; what is left must be ours.
    MyApplication app(argc, argv);
    const StartupOptions options = StartupOptions::parse(QCoreApplication::arguments());
    if (options.action != StartupOptions::Action::Run) {
        std::fputs(qPrintable(options.message), stderr);
        return 1;
    }
    if (!options.logFile.isEmpty()) {
        logFile = options.logFile == QLatin1String("-")
                      ? std::make_unique<halvorn::general::LogFileWriter>()
                      : std::make_unique<halvorn::general::LogFileWriter>(options.logFile);
        if (!logFile->isOpen()) {
            std::fprintf(stderr, "Cannot open the log file %s: %s\n", qPrintable(options.logFile),
                         qPrintable(logFile->errorString()));
            return 1;
        }
    }

    app.setSimulation(options.simulate, options.simulationFile);
    app.setStyleSheet(QStringLiteral("QStatusBar::item { border: 0px solid black }"));
    app.setApplicationVersion(QStringLiteral(TIVARO_VERSION));
    // The desktop finds the menu entry and icon of the window by this id.
    QGuiApplication::setDesktopFileName(QStringLiteral("com.halvorn.Tivaro"));
    app.setWindowIcon(QIcon(QStringLiteral(":/app/tivaro.svg")));

    // Screenshots show the window as a new user sees it, whatever this
    // user's saved layout.
    std::unique_ptr<QTemporaryDir> freshSettings;
    if (!options.screenshotDir.isEmpty()) {
        freshSettings = std::make_unique<QTemporaryDir>();
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, freshSettings->path());
    }

    TivaroMainWindow window;
    window.show();
    std::unique_ptr<halvorn::Screenshotter> screenshotter;
    if (!options.screenshotDir.isEmpty()) {
        screenshotter = std::make_unique<halvorn::Screenshotter>(&window, options.screenshotDir);
        screenshotter->start();
    }
    return app.exec();
}
