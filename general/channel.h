#pragma once

#include <QMutex>
#include <QObject>
#include <QString>

#include <atomic>

namespace halvorn::general {

class ChannelDisplayOptions;

// One output channel of a device (a DMX slot, for example): an integer
// level within [minimum, maximum], presented as a normalised value
// (property `value`, 0.0 at the minimum, 1.0 at the maximum) and as text
// chosen by its display options.
//
// The level and the range are atomic and the name is locked, so views may
// read a channel while its device changes it in the network's thread.
// Subclasses that keep the level elsewhere (the DMX set-point buffer)
// override level() and setLevel(); everything else goes through them.
class Channel : public QObject
{
    Q_OBJECT
    Q_PROPERTY(float value READ value WRITE setValue NOTIFY channelChanged)

public:
    // Range 0..100, level 0; the channel owns its display options.
    explicit Channel(int index, QObject* parent = nullptr);
    ~Channel() override;

    int index() const { return m_index; }
    QString name() const;
    void setName(const QString& name);
    ChannelDisplayOptions* displayOptions() const { return m_displayOptions; }

    // Stores the range (a reversed range in ascending order) and clamps the
    // level into it.
    void setRange(int min, int max);
    int span() const { return maximum() - minimum(); }

    // (level − minimum) ÷ span; 0 for an empty range.
    float value() const;
    // Sets the level to span × v truncated toward zero, plus the minimum
    // (clamped to the range); a value that is not a number is ignored.
    void setValue(float v);

    virtual int level() const;
    // "25.0%" with percentages shown, "25.0% (25)" with raw values as
    // well, "25" with raw values only, empty with neither.
    virtual QString valueText() const;

public Q_SLOTS:
    // Clamps to [minimum(), maximum()], stores and emits channelChanged()
    // (also when the level did not change).
    virtual void setLevel(int level);

public:
    virtual int minimum() const;
    virtual int maximum() const;

public Q_SLOTS:
    // Level 0 (clamped to the range).
    virtual void reset();
    // One level up unless at the maximum; returns the level.
    virtual int stepUp();
    // One level down unless at the minimum; returns the level.
    virtual int stepDown();
    virtual void up();
    virtual void down();
    // Re-reads the level from wherever a subclass keeps it (base: nothing).
    virtual void refresh();

Q_SIGNALS:
    void channelChanged();

private:
    const int m_index;
    mutable QMutex m_nameMutex;
    QString m_name; // guarded by m_nameMutex
    std::atomic<int> m_min{0};
    std::atomic<int> m_max{100};
    std::atomic<int> m_level{0};
    ChannelDisplayOptions* const m_displayOptions; // a QObject child
};

} // namespace halvorn::general
