#pragma once

#include "general/parameterview.h"

#include <QMap>
#include <QMutex>

#include <atomic>

namespace halvorn::general {

class ParameterDevice;

// One numbered parameter of a device: a 16-bit-wide value with its range,
// display mode, scale and offset, unit postfix, value names (LUT) and the
// outcome of the last read or write. Reading and writing go through the
// owning ParameterDevice.
//
// Thread safety: the value and the other run-time numbers are atomic; texts
// and maps are guarded by the parameter's own mutex. Views in the GUI thread
// read them while network and task threads update them.
//
// Context menu (populateMenu): the base "Update" entry, "Clear min/max" and
// the "Display type" sub-menu with the exclusive checkable entries
// "Decimal", "Hex", "Binary", "Scaled (factor * val)" and
// "Scaled (factor / val)"; each entry's data() is its display mode (0..4).
// The first three are connected to setDecimal/setHex/setBinary. The two
// scaled entries need a factor that only the ui can ask for: they are not
// connected here, carry the object names "scaleMultiply" and "scaleDivide",
// and the ui connects them to a dialog that ends in setScale(factor) or
// setScaleDiv(factor).
class Parameter : public ParameterView
{
    Q_OBJECT
    Q_PROPERTY(int val READ value WRITE setValueAndWrite)
    Q_PROPERTY(QString text READ text WRITE setText)

public:
    enum Type { IntegerType = 0, BooleanType = 2 };
    enum DisplayMode { Decimal = 0, Hexadecimal = 1, BinaryMode = 2, ScaledMultiply = 3, ScaledDivide = 4 };
    enum ReadState { ReadOk = 0, ReadFailed = 1, ReadAfterRetries = 2, WriteFailed = 3 };

    // min/max −1: no bound; value −1: never read. The mask is derived from
    // max when an upper bound is given, otherwise it keeps the low 16 bits.
    Parameter(ParameterDevice* device, uint number, const QString& name, const QString& tooltip,
              int min, int max, int value, bool is8Bit, bool readOnly, int displayMode,
              double scaleFactor = 1.0);

    ParameterDevice* device() const { return m_device; }
    uint number() const { return m_number; }
    int type() const { return m_type.load(); }
    void setType(int type);

    // −1 while the last read failed or never made; 0/1 for a boolean parameter.
    int value() const override;
    // The stored value whatever the read state.
    int storedValue() const { return m_value.load(); }
    void setValue(int value, bool write) override;
    void setValueAndWrite(int value) { setValue(value, true); }

    int minimum() const { return m_min.load(); }
    int maximum() const { return m_max.load(); }
    // Sets the range (and the mask derived from the maximum).
    void setRange(int min, int max);
    uint mask() const { return m_mask.load(); }
    void setMask(uint mask);
    bool is8Bit() const { return m_is8Bit; }
    bool isReadOnly() const override { return m_readOnly.load(); }
    void setReadOnly(bool readOnly);
    bool isChanged() const override { return m_changed.load(); }
    bool autoRange() const { return m_autoRange.load(); }
    void setAutoRange(bool autoRange);
    int displayMode() const override { return m_displayMode.load(); }
    void setDisplayMode(int mode);
    double scale() const override { return m_scaleFactor.load(); }
    void setScaleFactor(double factor);
    int offset() const { return m_offset.load(); }
    void setOffset(int offset);
    QString postfix() const;
    void setPostfix(const QString& postfix);
    int readState() const { return m_readState.load(); }
    void setReadState(int state);
    bool showBits() const { return m_showBits.load(); }
    void setShowBits(bool show);
    void setBitName(int bit, const QString& name);
    QString bitName(int bit) const;
    void setLutEntry(int value, const QString& name);
    QString lutText(int value) const;
    bool hasLut() const;
    QString text() const;
    void setText(const QString& text);
    // (value − rangeLow) / (rangeHigh − rangeLow), for graphs.
    double position() const;

    // The text of a value in a display mode, with the postfix; empty for −1.
    QString formatValue(int mode, int value) const;
    // Column 1: up to 255 in decimal, above that hexadecimal with "h".
    QString numberText() const;

    QVariant data(int column, int role) const override;
    // Column 0 check state: autoUpdate. Column 4 edit role: the value as
    // shown (number or text in the display mode, offset included), written.
    bool setData(int column, const QVariant& value, int role) override;
    Qt::ItemFlags flags(int column) const override;
    void populateMenu(MenuBuilder& menu) override;
    QString toString() const override;

public Q_SLOTS:
    void clearMinMax();
    // Reads the value from the hardware through the device, with the
    // network's retry count as the number of attempts.
    bool update(bool manual = true) override;
    bool updateWithRetry(int retryCount, bool manual = true);
    // Sets the value without writing it.
    void intValueChanged(int val);
    void setDecimal();
    void setHex();
    void setBinary();
    // Scaled display (factor × value, mode 3); the ui asks the user for the factor.
    void setScale(double factor);
    // Scaled display (factor ÷ value, mode 4).
    void setScaleDiv(double factor);

Q_SIGNALS:
    void parameterChanged(halvorn::general::Parameter* param);
    // A write of the value has been made (whatever its outcome).
    void parameterWrite(halvorn::general::Parameter* param);

private:
    // formatValue without the "−1 is empty" rule (for values with an offset).
    QString formatNumber(int mode, int value) const;
    QString numberToolTip(int value) const;
    // The shown value (offset added) parsed back in the display mode.
    bool parseShownValue(const QVariant& shown, int& value) const;
    void refreshColumns(int firstColumn, int lastColumn);

    ParameterDevice* const m_device;
    const uint m_number;
    const bool m_is8Bit;
    std::atomic<int> m_type{IntegerType};
    std::atomic<int> m_min;
    std::atomic<int> m_max;
    std::atomic<int> m_value;
    std::atomic<uint> m_mask;
    std::atomic<bool> m_readOnly;
    std::atomic<bool> m_autoRange{false};
    std::atomic<bool> m_changed{false};
    std::atomic<bool> m_showBits{false};
    std::atomic<int> m_displayMode;
    std::atomic<int> m_readState{ReadOk};
    std::atomic<double> m_scaleFactor;
    std::atomic<int> m_offset{0};
    const int m_rangeLow;
    const int m_rangeHigh;
    mutable QMutex m_textMutex;
    QString m_text;                // guarded by m_textMutex
    QString m_postfix;             // guarded by m_textMutex
    QMap<int, QString> m_bitNames; // guarded by m_textMutex
    QMap<int, QString> m_lut;      // guarded by m_textMutex
};

} // namespace halvorn::general
