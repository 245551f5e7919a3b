#include "clitest.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

namespace clitest {

QString CliRun::describe() const
{
    return QStringLiteral("exit %1%2 after %3 ms\n--- stdout\n%4\n--- stderr\n%5")
        .arg(exitCode)
        .arg(finished ? QString() : QStringLiteral(" (did not finish)"))
        .arg(elapsedMs)
        .arg(QString::fromUtf8(out.left(4000)), QString::fromUtf8(err.right(4000)));
}

CliRun run(const QStringList& arguments, int timeoutMs)
{
    CliRun result;
    QProcess process;
    QElapsedTimer clock;
    clock.start();
    process.start(QStringLiteral(TIVARO_CLI_PROGRAM), arguments);
    result.finished = process.waitForStarted(timeoutMs) && process.waitForFinished(timeoutMs);
    if (!result.finished) {
        process.kill();
        process.waitForFinished(5000);
    }
    result.elapsedMs = clock.elapsed();
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();

    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(result.out, &error);
    if (error.error != QJsonParseError::NoError)
        result.jsonError = error.errorString();
    else if (!document.isObject())
        result.jsonError = QStringLiteral("not a JSON object");
    else
        result.json = document.object();
    return result;
}

QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& text)
{
    QString path = dir.filePath(name);
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(text);
    return path;
}

QString installation(const QTemporaryDir& dir, const QString& name, const QByteArray& dongleMembers,
                     const QByteArray& topMembers)
{
    QByteArray text = "{";
    if (!topMembers.isEmpty())
        text += topMembers + ", ";
    text += "\"dongles\": [{" + dongleMembers + "}]}";
    return writeFile(dir, name, text);
}

QJsonValue at(const QJsonObject& document, const QString& path)
{
    QString remaining = path;
    const bool length = remaining.startsWith(QLatin1Char('#'));
    if (length)
        remaining.remove(0, 1);
    QJsonValue value(document);
    static const QRegularExpression step(QStringLiteral(R"(^([A-Za-z0-9]+)((?:\[\d+\])*)$)"));
    for (const QString& part : remaining.split(QLatin1Char('.'))) {
        const QRegularExpressionMatch match = step.match(part);
        if (!match.hasMatch() || !value.isObject())
            return QJsonValue(QJsonValue::Undefined);
        value = value.toObject().value(match.captured(1));
        static const QRegularExpression index(QStringLiteral(R"(\[(\d+)\])"));
        auto indices = index.globalMatch(match.captured(2));
        while (indices.hasNext()) {
            const int i = indices.next().captured(1).toInt();
            if (!value.isArray() || i >= value.toArray().size())
                return QJsonValue(QJsonValue::Undefined);
            value = value.toArray().at(i);
        }
    }
    if (length)
        return value.isArray() ? QJsonValue(value.toArray().size()) : QJsonValue(QJsonValue::Undefined);
    return value;
}

QString mismatches(const QJsonObject& document, const QVariantMap& expected)
{
    QStringList problems;
    for (auto it = expected.begin(); it != expected.end(); ++it) {
        const QJsonValue actual = at(document, it.key());
        const QVariant& want = it.value();
        bool same = false;
        if (!want.isValid())
            same = actual.isNull();
        else if (want.typeId() == QMetaType::Bool)
            same = actual.isBool() && actual.toBool() == want.toBool();
        else if (want.typeId() == QMetaType::Int || want.typeId() == QMetaType::Double)
            same = actual.isDouble() && qFuzzyCompare(actual.toDouble() + 1.0, want.toDouble() + 1.0);
        else
            same = actual.isString() && actual.toString() == want.toString();
        if (!same)
            problems.append(QStringLiteral("%1: expected %2, got %3")
                                .arg(it.key(), want.isValid() ? want.toString() : QStringLiteral("null"),
                                     actual.isUndefined() ? QStringLiteral("nothing")
                                                          : QString::fromUtf8(QJsonDocument(QJsonArray{actual}).toJson(
                                                                QJsonDocument::Compact))));
    }
    return problems.join(QLatin1Char('\n'));
}

QString check(const CliRun& result, int exitCode, const QVariantMap& expected, const QString& error)
{
    QStringList problems;
    if (!result.finished || result.exitCode != exitCode)
        problems << QStringLiteral("expected exit %1").arg(exitCode);
    if (!result.jsonError.isEmpty())
        problems << QStringLiteral("standard output is not one JSON object: ") + result.jsonError;
    else if (const QString differences = mismatches(result.json, expected); !differences.isEmpty())
        problems << differences;
    if (!error.isEmpty() && !QString::fromLocal8Bit(result.err).contains(error))
        problems << QStringLiteral("standard error does not name: ") + error;
    return problems.isEmpty() ? QString() : problems.join(QLatin1Char('\n')) + QLatin1Char('\n') + result.describe();
}

QStringList logLines(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLocal8Bit(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace clitest
