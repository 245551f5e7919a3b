#include "cli/clioutput.h"

#include <QJsonDocument>

#include <fcntl.h>
#include <unistd.h>

namespace halvorn::cli {

CliOutput::CliOutput(bool verbose)
    : m_progress(::isatty(STDERR_FILENO) == 1)
{
    std::fflush(stdout);
    m_savedStdout = ::dup(STDOUT_FILENO);
    if (m_savedStdout >= 0) {
        ::fcntl(m_savedStdout, F_SETFD, FD_CLOEXEC);
        m_out = ::fdopen(m_savedStdout, "w");
    }
    if (!m_out) {
        // Without a private copy the results share descriptor 1 with the dumps.
        m_out = stdout;
        return;
    }
    const int sink = verbose ? ::dup(STDERR_FILENO) : ::open("/dev/null", O_WRONLY);
    if (sink >= 0) {
        ::dup2(sink, STDOUT_FILENO);
        ::close(sink);
    }
}

CliOutput::~CliOutput()
{
    endProgress();
    std::fflush(stdout);
    if (m_out && m_out != stdout) {
        std::fflush(m_out);
        ::dup2(::fileno(m_out), STDOUT_FILENO);
        std::fclose(m_out);
    }
}

void CliOutput::write(const QString& text)
{
    endProgress();
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), m_out);
    std::fflush(m_out);
}

void CliOutput::writeJson(const QJsonObject& document)
{
    write(QString::fromUtf8(QJsonDocument(document).toJson(QJsonDocument::Indented)));
}

void CliOutput::error(const QString& text)
{
    endProgress();
    QByteArray bytes = text.toLocal8Bit();
    if (!bytes.endsWith('\n'))
        bytes.append('\n');
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

void CliOutput::progress(const QString& text)
{
    if (!m_progress)
        return;
    const QByteArray bytes = "\r\033[K" + text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
    m_progressShown = true;
}

void CliOutput::endProgress()
{
    if (!m_progressShown)
        return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    m_progressShown = false;
}

QString CliOutput::table(const QStringList& header, const QList<QStringList>& rows)
{
    QList<qsizetype> widths;
    for (const QString& cell : header)
        widths.append(cell.size());
    for (const QStringList& row : rows)
        for (qsizetype column = 0; column < row.size() && column < widths.size(); ++column)
            widths[column] = std::max(widths[column], row[column].size());

    auto line = [&](const QStringList& cells) {
        QString text;
        for (qsizetype column = 0; column < widths.size(); ++column) {
            const QString cell = column < cells.size() ? cells[column] : QString();
            text += column + 1 < widths.size() ? cell.leftJustified(widths[column] + 2) : cell;
        }
        return text.trimmed().isEmpty() ? QStringLiteral("\n") : text + QLatin1Char('\n');
    };
    QString text = line(header);
    QStringList rules;
    for (qsizetype width : widths)
        rules.append(QString(width, QLatin1Char('-')));
    text += line(rules);
    for (const QStringList& row : rows)
        text += line(row);
    return text;
}

} // namespace halvorn::cli
