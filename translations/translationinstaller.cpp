// Installs the program's translation for the user's language as soon as the
// application object exists, and with it Qt's own (standard dialogs and
// buttons), so that a translated window is not half in English.
#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace {

bool installTranslator(const QString& name, const QString& folder)
{
    QCoreApplication* app = QCoreApplication::instance();
    auto* translator = new QTranslator(app);
    if (translator->load(QLocale(), name, QStringLiteral("_"), folder) && app->installTranslator(translator))
        return true;
    delete translator;
    return false;
}

void installTranslations()
{
    if (installTranslator(QStringLiteral("tivaro"), QStringLiteral(":/i18n")))
        installTranslator(QStringLiteral("qtbase"), QLibraryInfo::path(QLibraryInfo::TranslationsPath));
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(installTranslations)
