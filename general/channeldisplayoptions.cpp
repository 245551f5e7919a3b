#include "general/channeldisplayoptions.h"

#include <utility>

namespace halvorn::general {

ChannelDisplayOptions::ChannelDisplayOptions(QObject* parent)
    : QObject(parent)
    , m_fromColour(40, 40, 40)
    , m_toColour(255, 255, 255)
{
}

bool ChannelDisplayOptions::showPercentage() const
{
    QMutexLocker locker(&m_mutex);
    return m_showPercentage;
}

void ChannelDisplayOptions::setShowPercentage(bool show)
{
    {
        QMutexLocker locker(&m_mutex);
        if (m_showPercentage == show)
            return;
        m_showPercentage = show;
    }
    emit optionsChanged();
}

bool ChannelDisplayOptions::showRawValue() const
{
    QMutexLocker locker(&m_mutex);
    return m_showRawValue;
}

void ChannelDisplayOptions::setShowRawValue(bool show)
{
    {
        QMutexLocker locker(&m_mutex);
        if (m_showRawValue == show)
            return;
        m_showRawValue = show;
    }
    emit optionsChanged();
}

Qt::Orientation ChannelDisplayOptions::orientation() const
{
    QMutexLocker locker(&m_mutex);
    return m_orientation;
}

void ChannelDisplayOptions::setOrientation(Qt::Orientation orientation)
{
    {
        QMutexLocker locker(&m_mutex);
        if (m_orientation == orientation)
            return;
        m_orientation = orientation;
    }
    emit optionsChanged();
}

int ChannelDisplayOptions::rangeMinimum() const
{
    QMutexLocker locker(&m_mutex);
    return m_rangeMinimum;
}

int ChannelDisplayOptions::rangeMaximum() const
{
    QMutexLocker locker(&m_mutex);
    return m_rangeMaximum;
}

void ChannelDisplayOptions::setRange(int minimum, int maximum)
{
    if (minimum > maximum)
        std::swap(minimum, maximum);
    {
        QMutexLocker locker(&m_mutex);
        if (m_rangeMinimum == minimum && m_rangeMaximum == maximum)
            return;
        m_rangeMinimum = minimum;
        m_rangeMaximum = maximum;
    }
    emit optionsChanged();
}

QColor ChannelDisplayOptions::backgroundFromColour() const
{
    QMutexLocker locker(&m_mutex);
    return m_fromColour;
}

QColor ChannelDisplayOptions::backgroundToColour() const
{
    QMutexLocker locker(&m_mutex);
    return m_toColour;
}

QLinearGradient ChannelDisplayOptions::backgroundGradient() const
{
    QMutexLocker locker(&m_mutex);
    // Vertical bars fill from the bottom up.
    QLinearGradient gradient = m_orientation == Qt::Vertical
        ? QLinearGradient(0.0, 1.0, 0.0, 0.0)
        : QLinearGradient(0.0, 0.0, 1.0, 0.0);
    gradient.setCoordinateMode(QGradient::ObjectMode);
    gradient.setColorAt(0.0, m_fromColour);
    gradient.setColorAt(1.0, m_toColour);
    return gradient;
}

void ChannelDisplayOptions::setBackgroundFromColour(QColor c)
{
    {
        QMutexLocker locker(&m_mutex);
        if (m_fromColour == c)
            return;
        m_fromColour = c;
    }
    emit optionsChanged();
}

void ChannelDisplayOptions::setBackgroundToColour(QColor c)
{
    {
        QMutexLocker locker(&m_mutex);
        if (m_toColour == c)
            return;
        m_toColour = c;
    }
    emit optionsChanged();
}

} // namespace halvorn::general
