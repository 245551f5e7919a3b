#include "general/parameter.h"

#include "general/menubuilder.h"
#include "general/parameterdevice.h"

#include <QAction>
#include <QActionGroup>
#include <QColor>
#include <QMutexLocker>

namespace halvorn::general {

namespace {

// 2^k − 1 covering max; without an upper bound the value keeps 16 bits.
uint maskForMaximum(int max)
{
    if (max < 0)
        return 0xFFFF;
    if (max <= 1)
        return 1;
    uint mask = 1;
    while (mask < uint(max))
        mask = (mask << 1) | 1;
    return mask;
}

QString hexText(int value, bool is8Bit)
{
    return QString::number(value, 16).toUpper().rightJustified(is8Bit ? 2 : 4, QLatin1Char('0'))
        + QLatin1Char('h');
}

QString binaryText(int value, bool is8Bit)
{
    return QString::number(value, 2).rightJustified(is8Bit ? 8 : 16, QLatin1Char('0'))
        + QLatin1Char('b');
}

const QColor kUpdatingColour(200, 200, 240);
const QColor kReadFailedColour(255, 200, 200);
const QColor kRetriedColour(255, 250, 190);
const QColor kWriteFailedColour(255, 210, 150);

} // namespace

Parameter::Parameter(ParameterDevice* device, uint number, const QString& name, const QString& tooltip,
                     int min, int max, int value, bool is8Bit, bool readOnly, int displayMode,
                     double scaleFactor)
    : ParameterView(device)
    , m_device(device)
    , m_number(number)
    , m_is8Bit(is8Bit)
    , m_min(min)
    , m_max(max)
    , m_value(value)
    , m_mask(maskForMaximum(max))
    , m_readOnly(readOnly)
    , m_displayMode(displayMode)
    , m_scaleFactor(scaleFactor)
    , m_rangeLow(min)
    , m_rangeHigh(max)
{
    setName(name);
    setTooltip(tooltip);
    if (device)
        connect(this, &Parameter::parameterChanged, device, &ParameterDevice::parameterChanged);
}

void Parameter::setType(int type)
{
    m_type = type;
}

int Parameter::value() const
{
    if (m_readState.load() == ReadFailed)
        return -1;
    const int stored = m_value.load();
    if (m_type.load() == BooleanType && stored != -1)
        return stored != 0 ? 1 : 0;
    return stored;
}

void Parameter::setValue(int value, bool write)
{
    int firstColumn = 4;
    if (m_autoRange.load()) {
        const bool outOfScale = m_displayMode.load() == ScaledMultiply && value > 0xFEFF;
        if (!outOfScale) {
            const int max = m_max.load();
            if ((max == -1 || value > max) && value != max) {
                m_max = value;
                firstColumn = 3;
            }
            const int min = m_min.load();
            if ((min == -1 || value < min) && value != min) {
                m_min = value;
                firstColumn = 2;
            }
        }
    } else if (m_type.load() == IntegerType) {
        value = int(uint(value) & m_mask.load());
    } else if (m_type.load() == BooleanType) {
        value = value != 0 ? int(m_mask.load()) : 0;
    }

    m_changed = m_value.exchange(value) != value;
    emit parameterChanged(this);
    emit parameterViewChanged(this, firstColumn, 4);

    if (!write)
        return;
    const bool written = m_device && m_device->parameterWrite(this, 3);
    if (!written)
        setReadState(WriteFailed);
    else if (m_readState.load() == WriteFailed)
        setReadState(ReadOk);
    emit parameterWrite(this); // NOLINT(readability-misleading-indentation): "emit" expands to nothing
}

void Parameter::setRange(int min, int max)
{
    m_min = min;
    m_max = max;
    m_mask = maskForMaximum(max);
    refreshColumns(2, 4);
}

void Parameter::setMask(uint mask)
{
    m_mask = mask;
}

void Parameter::setReadOnly(bool readOnly)
{
    m_readOnly = readOnly;
}

void Parameter::setAutoRange(bool autoRange)
{
    m_autoRange = autoRange;
}

void Parameter::setDisplayMode(int mode)
{
    m_displayMode = mode;
    refreshColumns(2, 4);
}

void Parameter::setScaleFactor(double factor)
{
    m_scaleFactor = factor;
    refreshColumns(2, 4);
}

void Parameter::setOffset(int offset)
{
    m_offset = offset;
    refreshColumns(2, 4);
}

QString Parameter::postfix() const
{
    QMutexLocker lock(&m_textMutex);
    return m_postfix;
}

void Parameter::setPostfix(const QString& postfix)
{
    {
        QMutexLocker lock(&m_textMutex);
        m_postfix = postfix;
    }
    refreshColumns(2, 4);
}

void Parameter::setReadState(int state)
{
    if (m_readState.exchange(state) != state)
        refreshColumns(0, 4);
}

void Parameter::setShowBits(bool show)
{
    m_showBits = show;
}

void Parameter::setBitName(int bit, const QString& name)
{
    QMutexLocker lock(&m_textMutex);
    m_bitNames.insert(bit, name);
}

QString Parameter::bitName(int bit) const
{
    QMutexLocker lock(&m_textMutex);
    return m_bitNames.value(bit);
}

void Parameter::setLutEntry(int value, const QString& name)
{
    {
        QMutexLocker lock(&m_textMutex);
        m_lut.insert(value, name);
    }
    refreshColumns(4, 4);
}

QString Parameter::lutText(int value) const
{
    QMutexLocker lock(&m_textMutex);
    return m_lut.value(value);
}

bool Parameter::hasLut() const
{
    QMutexLocker lock(&m_textMutex);
    return !m_lut.isEmpty();
}

QString Parameter::text() const
{
    QMutexLocker lock(&m_textMutex);
    return m_text;
}

void Parameter::setText(const QString& text)
{
    {
        QMutexLocker lock(&m_textMutex);
        if (m_text == text)
            return;
        m_text = text;
    }
    refreshColumns(0, 4);
}

double Parameter::position() const
{
    if (m_rangeHigh == m_rangeLow)
        return 0.0;
    return double(value() - m_rangeLow) / double(m_rangeHigh - m_rangeLow);
}

QString Parameter::formatValue(int mode, int value) const
{
    if (value == -1)
        return QString();
    return formatNumber(mode, value);
}

QString Parameter::formatNumber(int mode, int value) const
{
    QString text;
    switch (mode) {
    case Hexadecimal:
        text = hexText(value, m_is8Bit);
        break;
    case BinaryMode:
        text = binaryText(value, m_is8Bit);
        break;
    case ScaledMultiply:
        text = QString::number(m_scaleFactor.load() * value, 'f', 3);
        break;
    case ScaledDivide:
        text = value == 0 ? QStringLiteral("0") : QString::number(m_scaleFactor.load() / value, 'f', 0);
        break;
    default:
        text = QString::number(value);
        break;
    }
    const QString unit = postfix();
    if (!unit.isEmpty())
        text += QLatin1Char(' ') + unit;
    return text;
}

QString Parameter::numberText() const
{
    if (m_number <= 255)
        return QString::number(m_number);
    return QString::number(m_number, 16).toUpper().rightJustified(4, QLatin1Char('0')) + QLatin1Char('h');
}

QString Parameter::numberToolTip(int value) const
{
    const bool known = value != -1;
    QString tip = QStringLiteral("<b>Dec: </b>") + (known ? QString::number(value) : QString())
        + QStringLiteral("<br><b>Hex: </b>") + (known ? hexText(value, m_is8Bit) : QString())
        + QStringLiteral("<br><b>Bin: </b>") + (known ? binaryText(value, m_is8Bit) : QString());
    if (!m_showBits.load())
        return tip;
    tip += QStringLiteral("<br>");
    const int bits = m_is8Bit ? 8 : 16;
    for (int bit = 0; bit < bits; ++bit) {
        const QString name = bitName(bit);
        const bool set = known && ((value >> bit) & 1);
        tip += QStringLiteral("<br><b>") + QString::number(bit) + QStringLiteral("</b>\t:")
            + (set ? QStringLiteral("<b>") + name + QStringLiteral("</b>") : name);
    }
    return tip;
}

QVariant Parameter::data(int column, int role) const
{
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole: {
        const int mode = m_displayMode.load();
        const int offset = m_offset.load();
        switch (column) {
        case 0:
            return name();
        case 1:
            return numberText();
        case 2:
        case 3: {
            const int bound = column == 2 ? m_min.load() : m_max.load();
            return bound == -1 ? QString() : formatNumber(mode, bound + offset);
        }
        case 4: {
            const int current = value();
            if (current == -1)
                return QString();
            const QString lutName = lutText(current);
            return lutName.isEmpty() ? formatNumber(mode, current + offset) : lutName;
        }
        default:
            return {};
        }
    }
    case Qt::ToolTipRole:
        switch (column) {
        case 0:
        case 1: {
            QString tip = QStringLiteral("<b>Description</b><br>") + tooltip();
            if (m_readState.load() == ReadFailed)
                tip += QStringLiteral("<br><b>Error</b><br>Parameter read error");
            return tip;
        }
        case 2:
            return numberToolTip(m_min.load());
        case 3:
            return numberToolTip(m_max.load());
        case 4:
            return numberToolTip(value());
        default:
            return {};
        }
    case Qt::BackgroundRole:
        if (updateState() == 1)
            return kUpdatingColour;
        switch (m_readState.load()) {
        case ReadFailed:
            return kReadFailedColour;
        case ReadAfterRetries:
            return kRetriedColour;
        case WriteFailed:
            return kWriteFailedColour;
        default:
            return {};
        }
    case Qt::CheckStateRole:
        if (column == 0 && autoUpdateCheckable())
            return int(autoUpdate() ? Qt::Checked : Qt::Unchecked);
        return {};
    default:
        return ParameterView::data(column, role);
    }
}

bool Parameter::parseShownValue(const QVariant& shown, int& value) const
{
    const int offset = m_offset.load();
    const int typeId = shown.metaType().id();
    if (typeId == QMetaType::Int || typeId == QMetaType::UInt || typeId == QMetaType::LongLong
        || typeId == QMetaType::ULongLong) {
        value = shown.toInt() - offset;
        return true;
    }

    QString text = shown.toString().trimmed();
    const QString unit = postfix();
    if (!unit.isEmpty() && text.endsWith(unit))
        text = text.chopped(unit.size()).trimmed();
    {
        QMutexLocker lock(&m_textMutex);
        for (auto it = m_lut.cbegin(); it != m_lut.cend(); ++it) {
            if (it.value() == text) {
                value = it.key();
                return true;
            }
        }
    }

    bool ok = false;
    int shownNumber = 0;
    const double factor = m_scaleFactor.load();
    switch (m_displayMode.load()) {
    case Hexadecimal:
        if (text.endsWith(QLatin1Char('h'), Qt::CaseInsensitive))
            text.chop(1);
        shownNumber = text.toInt(&ok, 16);
        break;
    case BinaryMode:
        if (text.endsWith(QLatin1Char('b'), Qt::CaseInsensitive))
            text.chop(1);
        shownNumber = text.toInt(&ok, 2);
        break;
    case ScaledMultiply: {
        const double scaled = text.toDouble(&ok);
        ok = ok && factor != 0.0;
        if (ok)
            shownNumber = qRound(scaled / factor);
        break;
    }
    case ScaledDivide: {
        const double scaled = text.toDouble(&ok);
        if (ok)
            shownNumber = scaled == 0.0 ? 0 : qRound(factor / scaled);
        break;
    }
    default:
        shownNumber = text.toInt(&ok, 10);
        break;
    }
    if (ok)
        value = shownNumber - offset;
    return ok;
}

bool Parameter::setData(int column, const QVariant& value, int role)
{
    if (column == 0 && role == Qt::CheckStateRole) {
        setAutoUpdate(value.toInt() == Qt::Checked);
        return true;
    }
    if (column == 4 && role == Qt::EditRole && !isReadOnly()) {
        int raw = 0;
        if (!parseShownValue(value, raw))
            return false;
        setValue(raw, true);
        return true;
    }
    return ParameterView::setData(column, value, role);
}

Qt::ItemFlags Parameter::flags(int column) const
{
    Qt::ItemFlags result = ParameterView::flags(column);
    if (column == 4 && !isReadOnly())
        result |= Qt::ItemIsEditable;
    return result;
}

void Parameter::populateMenu(MenuBuilder& menu)
{
    ParameterView::populateMenu(menu);
    menu.addSeparator();
    QAction* clear = menu.addAction(QStringLiteral("Clear min/max"));
    connect(clear, &QAction::triggered, this, &Parameter::clearMinMax);
    menu.addSeparator();

    MenuBuilder* displayMenu = menu.addMenu(QStringLiteral("Display type"));
    if (!displayMenu)
        return;
    auto* exclusive = new QActionGroup(menu.owner());
    exclusive->setExclusive(true);
    struct Entry {
        const char* text;
        int mode;
        void (Parameter::*slot)();
        const char* objectName;
    };
    static const Entry entries[] = {
        {"Decimal", Decimal, &Parameter::setDecimal, "decimal"},
        {"Hex", Hexadecimal, &Parameter::setHex, "hex"},
        {"Binary", BinaryMode, &Parameter::setBinary, "binary"},
        {"Scaled (factor * val)", ScaledMultiply, nullptr, "scaleMultiply"},
        {"Scaled (factor / val)", ScaledDivide, nullptr, "scaleDivide"},
    };
    const int current = displayMode();
    for (const Entry& entry : entries) {
        QAction* action = displayMenu->addAction(QString::fromLatin1(entry.text));
        action->setObjectName(QString::fromLatin1(entry.objectName));
        action->setCheckable(true);
        action->setData(entry.mode);
        exclusive->addAction(action);
        action->setChecked(entry.mode == current);
        if (entry.slot)
            connect(action, &QAction::triggered, this, entry.slot);
    }
}

QString Parameter::toString() const
{
    return QStringLiteral("Parameter ") + numberText() + QStringLiteral(" \"") + name()
        + QLatin1Char('"');
}

void Parameter::clearMinMax()
{
    if (!m_autoRange.load())
        return;
    m_min = -1;
    m_max = -1;
    refreshColumns(2, 4);
}

bool Parameter::update(bool)
{
    if (!m_device)
        return false;
    const int attempts = m_device->readAttempts();
    setUpdateState(1);

    bool ok = false;
    uint result = 0;
    int attempt = 0;
    while (!ok && attempt < attempts) {
        ++attempt;
        result = m_device->downloadParameter(this, ok);
    }

    if (ok) {
        // The read state first, so that reactions to the change see the value.
        setReadState(attempt == 1 ? ReadOk : ReadAfterRetries);
        if (m_type.load() == BooleanType) {
            const int stored = int(result & m_mask.load());
            m_changed = m_value.exchange(stored) != stored;
            emit parameterChanged(this);
            refreshColumns(4, 4);
        } else {
            setValue(int(result & 0xFFFF), false);
        }
    } else {
        setReadState(ReadFailed);
    }

    setUpdateState(0);
    emit updateFinished();
    return ok;
}

bool Parameter::updateWithRetry(int retryCount, bool manual)
{
    const int attempts = qMax(retryCount, 1);
    for (int attempt = 0; attempt < attempts; ++attempt) {
        if (update(manual))
            return true;
    }
    return false;
}

void Parameter::intValueChanged(int val)
{
    setValue(val, false);
}

void Parameter::setDecimal()
{
    setDisplayMode(Decimal);
}

void Parameter::setHex()
{
    setDisplayMode(Hexadecimal);
}

void Parameter::setBinary()
{
    setDisplayMode(BinaryMode);
}

void Parameter::setScale(double factor)
{
    setScaleFactor(factor);
    setDisplayMode(ScaledMultiply);
}

void Parameter::setScaleDiv(double factor)
{
    setScaleFactor(factor);
    setDisplayMode(ScaledDivide);
}

void Parameter::refreshColumns(int firstColumn, int lastColumn)
{
    emit parameterViewChanged(this, firstColumn, lastColumn);
}

} // namespace halvorn::general
