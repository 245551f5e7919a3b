#include "general/logfilewriter.h"

#include <cstdio>

namespace halvorn::general {

LogFileWriter::LogFileWriter(const QString& path)
    : m_file(path)
{
    // Unbuffered: every line goes out in one write, so nothing is lost when
    // the program dies and lines of different threads never interleave.
    m_open = m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered);
    if (!m_open)
        m_errorString = m_file.errorString();
    install();
}

LogFileWriter::LogFileWriter()
{
    m_open = m_file.open(fileno(stderr), QIODevice::WriteOnly | QIODevice::Unbuffered,
                         QFileDevice::DontCloseHandle);
    if (!m_open)
        m_errorString = m_file.errorString();
    install();
}

LogFileWriter::~LogFileWriter()
{
    if (m_open)
        Log::removeTap(this);
}

void LogFileWriter::install()
{
    if (m_open)
        Log::addTap(this);
}

void LogFileWriter::messageAppended(const Log& log, const LogMessage& message)
{
    QString line = log.name();
    line += QLatin1String(": ");
    line += message.toString();
    line += QLatin1Char('\n');
    const QByteArray bytes = line.toLocal8Bit();

    std::lock_guard locker(m_mutex);
    m_file.write(bytes);
}

} // namespace halvorn::general
