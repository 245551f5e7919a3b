#pragma once

#include <QColor>
#include <QLinearGradient>
#include <QMutex>
#include <QObject>

namespace halvorn::general {

// How a channel display shows a channel: whether its text gives the value
// as a percentage and/or as the raw level, the background gradient of the
// level bar, the bar's orientation and the value range it spans.
//
// Read by views in the GUI thread while the channel's owner may change it
// in its own thread: every field is guarded by the options' mutex.
class ChannelDisplayOptions : public QObject
{
    Q_OBJECT

public:
    explicit ChannelDisplayOptions(QObject* parent = nullptr);

    bool showPercentage() const;
    void setShowPercentage(bool show);
    bool showRawValue() const;
    void setShowRawValue(bool show);

    Qt::Orientation orientation() const;
    void setOrientation(Qt::Orientation orientation);

    int rangeMinimum() const;
    int rangeMaximum() const;
    // A reversed range is stored in ascending order.
    void setRange(int minimum, int maximum);

    QColor backgroundFromColour() const;
    QColor backgroundToColour() const;
    // From position 0 to position 1 along the orientation, in the
    // coordinates of the painted item's bounding rectangle.
    QLinearGradient backgroundGradient() const;

public Q_SLOTS:
    // The gradient's colour at position 0.
    void setBackgroundFromColour(QColor c);
    // The gradient's colour at position 1.
    void setBackgroundToColour(QColor c);

Q_SIGNALS:
    void optionsChanged();

private:
    mutable QMutex m_mutex;
    bool m_showPercentage = true;            // guarded by m_mutex
    bool m_showRawValue = false;             // guarded by m_mutex
    Qt::Orientation m_orientation = Qt::Horizontal; // guarded by m_mutex
    int m_rangeMinimum = 0;                  // guarded by m_mutex
    int m_rangeMaximum = 100;                // guarded by m_mutex
    QColor m_fromColour;                     // guarded by m_mutex
    QColor m_toColour;                       // guarded by m_mutex
};

} // namespace halvorn::general
