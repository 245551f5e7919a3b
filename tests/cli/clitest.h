#pragma once

// Runs the built tivaro-cli as a process and looks at what it printed.

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

class QTemporaryDir;

namespace clitest {

struct CliRun
{
    bool finished = false;
    int exitCode = -1;
    qint64 elapsedMs = 0;
    QByteArray out;
    QByteArray err;
    // Standard output parsed as exactly one JSON object (jsonError says why not).
    QJsonObject json;
    QString jsonError;

    // Exit status and both outputs, for failure messages.
    QString describe() const;
};

// Runs tivaro-cli with the arguments and waits at most timeoutMs for it.
CliRun run(const QStringList& arguments, int timeoutMs = 30000);

// Writes `text` to a file in `dir` and returns its path.
QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& text);
// An installation file with one dongle made of the given JSON members,
// e.g. R"("dali": {"powered": true})".
QString installation(const QTemporaryDir& dir, const QString& name, const QByteArray& dongleMembers,
                     const QByteArray& topMembers = QByteArray());

// The value at a path such as "drivers[1].lid" or "parameter.value";
// "#drivers" is the length of the list at "drivers". Undefined when absent.
QJsonValue at(const QJsonObject& document, const QString& path);
// Empty when every path of `expected` holds its value (an invalid QVariant
// stands for null; numbers compare as numbers), otherwise what differs.
QString mismatches(const QJsonObject& document, const QVariantMap& expected);

// Empty when the run finished with `exitCode`, printed exactly one JSON
// document holding `expected` (see mismatches) and, when `error` is given,
// named it on standard error; otherwise what went wrong, with the run's output.
QString check(const CliRun& result, int exitCode, const QVariantMap& expected = {}, const QString& error = {});

// Lines of a log file written with --log-file.
QStringList logLines(const QString& path);

} // namespace clitest

// Fails the test with the description when `problems` is not empty.
#define CLI_VERIFY(problems)                                                                                         \
    do {                                                                                                             \
        const QString cliProblems = (problems);                                                                      \
        QVERIFY2(cliProblems.isEmpty(), qPrintable(cliProblems));                                                    \
    } while (false)
