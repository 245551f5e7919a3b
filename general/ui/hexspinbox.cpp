#include "general/ui/hexspinbox.h"

#include <QAction>
#include <QDoubleValidator>
#include <QLocale>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QTimer>

#include <cmath>
#include <limits>

namespace halvorn::general {

namespace {

int clampToInt(double value)
{
    if (!std::isfinite(value))
        return 0;
    const double rounded = std::round(value);
    if (rounded >= double(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    if (rounded <= double(std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::min();
    return int(rounded);
}

int parseInteger(const QString& text, int base)
{
    bool ok = false;
    const qlonglong value = text.toLongLong(&ok, base);
    return ok ? clampToInt(double(value)) : 0;
}

QValidator* validatorFor(int mode, QObject* parent)
{
    QString pattern;
    switch (mode) {
    case HexSpinBox::Hexadecimal:
        pattern = QStringLiteral("[0-9A-Fa-f]{1,8}");
        break;
    case HexSpinBox::Binary:
        pattern = QStringLiteral("[0-1]{1,32}");
        break;
    case HexSpinBox::ScaledMultiply:
    case HexSpinBox::ScaledDivide: {
        auto* validator = new QDoubleValidator(parent);
        // The texts are written with QString::number, which never uses a
        // local decimal separator.
        validator->setLocale(QLocale::c());
        return validator;
    }
    default:
        pattern = QStringLiteral("[0-9]{1,8}");
        break;
    }
    return new QRegularExpressionValidator(QRegularExpression(pattern), parent);
}

QString suffixFor(int mode)
{
    switch (mode) {
    case HexSpinBox::Hexadecimal:
        return QStringLiteral("h");
    case HexSpinBox::Binary:
        return QStringLiteral("b");
    default:
        return {};
    }
}

} // namespace

HexSpinBox::HexSpinBox(QWidget* parent)
    : QSpinBox(parent)
{
    setRange(0, 255);
    setContextMenuPolicy(Qt::ActionsContextMenu);
    const struct {
        const char* text;
        void (HexSpinBox::*slot)();
    } entries[] = {
        {"Decimal", &HexSpinBox::setToDecimal},
        {"Hex", &HexSpinBox::setToHex},
        {"Binary", &HexSpinBox::setToBinary},
    };
    for (const auto& entry : entries) {
        auto* action = new QAction(tr(entry.text), this);
        connect(action, &QAction::triggered, this, entry.slot);
        addAction(action);
    }
    setDisplayMode(Hexadecimal);
    connect(this, &QSpinBox::valueChanged, this, &HexSpinBox::curValueChanged);
}

HexSpinBox::~HexSpinBox() = default;

void HexSpinBox::setDisplayMode(int mode)
{
    m_displayMode = mode;
    delete m_validator;
    m_validator = validatorFor(mode, this);
    setSuffix(suffixFor(mode));
    // Show the current value in the new form.
    setValue(value());
    emit valueChanged(valueFromText(text()));
}

void HexSpinBox::setScaleFactor(double factor)
{
    m_scaleFactor = factor;
    setValue(value());
}

void HexSpinBox::setToDecimal()
{
    setDisplayMode(Decimal);
}

void HexSpinBox::setToHex()
{
    setDisplayMode(Hexadecimal);
}

void HexSpinBox::setToBinary()
{
    setDisplayMode(Binary);
}

void HexSpinBox::curValueChanged(int val)
{
    emit identValueChanged(m_index, val);
}

QString HexSpinBox::withoutSuffix(const QString& text) const
{
    QString result = text;
    if (m_displayMode == Hexadecimal)
        result.remove(QLatin1Char('h'));
    else if (m_displayMode == Binary)
        result.remove(QLatin1Char('b'));
    return result;
}

QValidator::State HexSpinBox::validate(QString& input, int& pos) const
{
    QString text = withoutSuffix(input);
    int textPos = qMin(pos, int(text.size()));
    return m_validator ? m_validator->validate(text, textPos) : QValidator::Acceptable;
}

int HexSpinBox::valueFromText(const QString& text) const
{
    const QString clean = withoutSuffix(text).trimmed();
    switch (m_displayMode) {
    case Hexadecimal:
        return parseInteger(clean, 16);
    case Binary:
        return parseInteger(clean, 2);
    case ScaledMultiply:
    case ScaledDivide: {
        bool ok = false;
        const double shown = clean.toDouble(&ok);
        if (!ok)
            return 0;
        if (m_displayMode == ScaledMultiply)
            return m_scaleFactor == 0.0 ? 0 : clampToInt(shown / m_scaleFactor);
        return shown == 0.0 ? 0 : clampToInt(m_scaleFactor / shown);
    }
    default:
        return parseInteger(clean, 10);
    }
}

QString HexSpinBox::textFromValue(int value) const
{
    switch (m_displayMode) {
    case Hexadecimal:
        return QString::number(value, 16).toUpper();
    case Binary:
        return QString::number(value, 2);
    case ScaledMultiply:
        return QString::number(value * m_scaleFactor, 'g', 6);
    case ScaledDivide:
        return value == 0 ? QStringLiteral("0") : QString::number(m_scaleFactor / value, 'g', 6);
    default:
        return QString::number(value);
    }
}

void HexSpinBox::focusInEvent(QFocusEvent* event)
{
    QSpinBox::focusInEvent(event);
    selectAll();
    // A mouse click places the cursor after the focus event; select again
    // once it has been handled.
    QTimer::singleShot(0, this, &QAbstractSpinBox::selectAll);
}

} // namespace halvorn::general
