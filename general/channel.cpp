#include "general/channel.h"

#include "general/channeldisplayoptions.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace halvorn::general {

Channel::Channel(int index, QObject* parent)
    : QObject(parent)
    , m_index(index)
    , m_displayOptions(new ChannelDisplayOptions(this))
{
}

Channel::~Channel() = default;

QString Channel::name() const
{
    QMutexLocker locker(&m_nameMutex);
    return m_name;
}

void Channel::setName(const QString& name)
{
    QMutexLocker locker(&m_nameMutex);
    m_name = name;
}

void Channel::setRange(int min, int max)
{
    if (min > max)
        std::swap(min, max);
    m_min = min;
    m_max = max;
    const int current = level();
    if (current < min || current > max)
        setLevel(current);
}

float Channel::value() const
{
    const int range = span();
    if (range == 0)
        return 0.0f;
    return float(double(level() - minimum()) / double(range));
}

void Channel::setValue(float v)
{
    if (std::isnan(v))
        return;
    // The product is taken in float, as the value is a float (0.29 gives 29
    // of 100), and clamped before the conversion so that a huge v cannot
    // overflow the int.
    const double raw = double(std::trunc(float(span()) * v)) + double(minimum());
    const double clamped = std::clamp(raw, double(minimum()), double(maximum()));
    setLevel(int(clamped));
}

int Channel::level() const
{
    return m_level.load();
}

QString Channel::valueText() const
{
    const bool percentage = m_displayOptions->showPercentage();
    const bool raw = m_displayOptions->showRawValue();
    const QString rawText = QString::number(level());
    if (!percentage)
        return raw ? rawText : QString();
    QString text = QString::number(double(value()) * 100.0, 'f', 1) + QLatin1Char('%');
    if (raw)
        text += QStringLiteral(" (") + rawText + QLatin1Char(')');
    return text;
}

void Channel::setLevel(int level)
{
    m_level = std::clamp(level, minimum(), std::max(minimum(), maximum()));
    emit channelChanged();
}

int Channel::minimum() const
{
    return m_min.load();
}

int Channel::maximum() const
{
    return m_max.load();
}

void Channel::reset()
{
    setLevel(0);
}

int Channel::stepUp()
{
    const int current = level();
    if (current < maximum())
        setLevel(current + 1);
    return level();
}

int Channel::stepDown()
{
    const int current = level();
    if (current > minimum())
        setLevel(current - 1);
    return level();
}

void Channel::up()
{
    stepUp();
}

void Channel::down()
{
    stepDown();
}

void Channel::refresh()
{
}

} // namespace halvorn::general
