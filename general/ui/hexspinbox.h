#pragma once

#include <QSpinBox>

class QValidator;

namespace halvorn::general {

// A spin box that shows and accepts its value in decimal, hexadecimal
// (suffix "h"), binary (suffix "b") or scaled form (value × factor, or
// factor ÷ value), like the display modes of a parameter. The context menu
// switches between decimal, hexadecimal and binary. Gaining focus selects the
// whole text, so that typing replaces it.
class HexSpinBox : public QSpinBox
{
    Q_OBJECT

public:
    enum Mode { Decimal = 0, Hexadecimal = 1, Binary = 2, ScaledMultiply = 3, ScaledDivide = 4 };

    explicit HexSpinBox(QWidget* parent = nullptr);
    ~HexSpinBox() override;

    int displayMode() const { return m_displayMode; }
    // Changes validator and suffix, then reads the current text back in the
    // new mode and emits valueChanged() with the result.
    void setDisplayMode(int mode);
    double scaleFactor() const { return m_scaleFactor; }
    void setScaleFactor(double factor);
    // Passed back with identValueChanged(), to tell several boxes apart.
    int index() const { return m_index; }
    void setIndex(int index) { m_index = index; }

    QValidator::State validate(QString& input, int& pos) const override;
    // The conversions of the current mode; a text that does not parse gives 0.
    int valueFromText(const QString& text) const override;
    QString textFromValue(int value) const override;

public Q_SLOTS:
    void setToDecimal();
    void setToHex();
    void setToBinary();
    void curValueChanged(int val);

Q_SIGNALS:
    void identValueChanged(int index, int val);

protected:
    void focusInEvent(QFocusEvent* event) override;

private:
    // The text without the mode's suffix letters.
    QString withoutSuffix(const QString& text) const;

    QValidator* m_validator = nullptr; // owned
    int m_displayMode = Decimal;
    double m_scaleFactor = 1.0;
    int m_index = 0;
};

} // namespace halvorn::general
