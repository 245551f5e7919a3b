#include "km/ui/keymarkconfigwidget.h"

#include "general/parameter.h"
#include "km/keymarkdevice.h"
#include "km/keymarkmath.h"
#include "km/keymarknetwork.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressDialog>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStyle>
#include <QStyleFactory>
#include <QTextStream>
#include <QToolButton>
#include <QVBoxLayout>
#include <QtDebug>

#include <memory>

using halvorn::general::Parameter;
using halvorn::km::KeymarkDevice;
using halvorn::km::KeymarkNetwork;
namespace KeymarkParameter = halvorn::km::KeymarkParameter;

struct KeymarkConfigWidget::ReadResult
{
    std::array<std::optional<int>, SourceCount> currents;
    std::optional<int> curve;
    std::optional<int> minLevel;
    std::optional<int> ntc;
};

namespace {

constexpr int InitialCurrent = 350;
constexpr int InitialNtcTemperature = 70;
constexpr int CurrentGroupMaximumHeight = 200;
constexpr int LinearCurveIndex = 0;
// Parameter 39 holds 1 for the linear curve, 0 for the logarithmic one.
constexpr int LinearCurveValue = 1;
constexpr int LogarithmicCurveValue = 0;
constexpr int AmpwiseCountReads = 10;
constexpr int AmpwiseStatusReads = 3;
constexpr int MissingSecondSourceBit = 6;
constexpr int MissingFirstSourceBit = 14;
const QString OutOfRangeStyle = QStringLiteral("QSpinBox { background-color: #ffd8d8; }");

void printLine(const char* text)
{
    QTextStream out(stdout);
    out << text << Qt::endl;
}

std::optional<int> readParameter(KeymarkDevice* device, uint number, int attempts = 0)
{
    Parameter* parameter = device ? device->findParameter(number) : nullptr;
    if (!parameter)
        return std::nullopt;
    const bool read = attempts > 0 ? parameter->updateWithRetry(attempts, true) : parameter->update(true);
    if (!read || parameter->value() < 0)
        return std::nullopt;
    return parameter->value();
}

bool writeParameter(KeymarkDevice* device, uint number, int value)
{
    Parameter* parameter = device ? device->findParameter(number) : nullptr;
    if (!parameter)
        return false;
    parameter->setValue(value, true);
    return true;
}

void openSession(KeymarkNetwork* network)
{
    network->writeMemoryBank1(KeymarkNetwork::BroadcastDeviceAddress, KeymarkNetwork::SessionLocation,
                              KeymarkNetwork::SessionValue, true);
}

// Which current sources the driver has, from its Ampwise chips: chip 0
// drives sources 1 and 2, the others 3 and 4; in a chip's status word bit
// 6 says that its second source is missing, bit 14 its first. Runs in the
// network's thread.
std::array<bool, KeymarkConfigWidget::SourceCount> ampwiseAvailability(KeymarkNetwork* network,
                                                                      KeymarkDevice* device)
{
    std::array<bool, KeymarkConfigWidget::SourceCount> available{true, true, true, true};
    openSession(network);
    if (!device || !device->findParameter(KeymarkParameter::AmpwiseCount))
        return available;
    qDebug() << "Found AW count";
    const std::optional<int> count = readParameter(device, KeymarkParameter::AmpwiseCount, AmpwiseCountReads);
    qDebug() << "AW count" << count.value_or(-1);
    if (!count)
        return available;
    if (*count == 1)
        available[2] = available[3] = false;
    else if (*count < 1)
        return available;

    for (int i = 0; i < *count; ++i) {
        const uint number = halvorn::km::ampwiseStatusParameter(i);
        if (!device->findParameter(number)) {
            qDebug() << "Param not found";
            continue;
        }
        qDebug() << "Checking param for AW " << i;
        // A status that cannot be read says nothing: the sources stay.
        const std::optional<int> status = readParameter(device, number, AmpwiseStatusReads);
        if (!status)
            continue;
        if (*status & (1 << MissingSecondSourceBit))
            available[i == 0 ? 1 : 3] = false;
        if (*status & (1 << MissingFirstSourceBit)) {
            if (i == 0)
                qDebug() << "CS1 not available";
            available[i == 0 ? 0 : 2] = false;
        } else {
            qDebug() << "CS 1,3 available" << *status;
        }
    }
    return available;
}

} // namespace

KeymarkConfigWidget::KeymarkConfigWidget(QWidget* parent)
    : QWidget(parent)
{
    buildForm();
    QMetaObject::connectSlotsByName(this);
    connect(this, &KeymarkConfigWidget::startWrite, this, &KeymarkConfigWidget::write, Qt::QueuedConnection);
    connect(this, &KeymarkConfigWidget::finishedWrite, this, &KeymarkConfigWidget::writeDone);

    m_progress = new QProgressDialog(tr("Writing Keymark parameters"), tr("Cancel"), 0, 0, this);
    m_progress->setWindowModality(Qt::WindowModal);
    m_progress->setLabelText(tr("Writing..."));
    m_progress->setCancelButton(nullptr);
    m_progress->setMinimumDuration(0);
    // A progress dialog shows itself after a while unless reset.
    m_progress->reset();
    m_progress->hide();

    OnKeymarkDisconnect();
}

KeymarkConfigWidget::~KeymarkConfigWidget() = default;

void KeymarkConfigWidget::buildForm()
{
    setObjectName(QStringLiteral("KeymarkConfigWidget"));
    // The arrow buttons keep a style of their own, whatever the application's.
    QStyle* buttonStyle = QStyleFactory::create(QStringLiteral("Fusion"));
    if (buttonStyle)
        buttonStyle->setParent(this);

    m_currentGroupBox = new QGroupBox(tr("Currents"));
    m_currentGroupBox->setObjectName(QStringLiteral("currentGroupBox"));
    m_currentGroupBox->setMaximumHeight(CurrentGroupMaximumHeight);
    auto* grid = new QGridLayout(m_currentGroupBox);
    for (int k = 0; k < SourceCount; ++k) {
        const QString n = QString::number(k + 1);
        auto* label = new QLabel(tr("Group %1").arg(n));
        label->setObjectName(QStringLiteral("currentSource%1Label").arg(n));
        label->setAlignment(Qt::AlignCenter);
        auto makeButton = [&](const char* direction, const char* image) {
            auto* button = new QToolButton;
            button->setObjectName(QStringLiteral("currentSource%1%2ToolButton").arg(n, QLatin1String(direction)));
            button->setText(QStringLiteral("..."));
            button->setIcon(QIcon(QLatin1String(image)));
            if (buttonStyle)
                button->setStyle(buttonStyle);
            return button;
        };
        QToolButton* up = makeButton("Up", ":/ui/images/UpButton.png");
        QToolButton* down = makeButton("Down", ":/ui/images/DownButton.png");
        auto* box = new QSpinBox;
        box->setObjectName(QStringLiteral("currentSource%1SpinBox").arg(n));
        box->setRange(MinimumCurrent, MaximumCurrent);
        box->setValue(InitialCurrent);
        box->setSuffix(tr(" mA"));
        grid->addWidget(label, 0, k, Qt::AlignHCenter);
        grid->addWidget(up, 1, k, Qt::AlignHCenter);
        grid->addWidget(box, 2, k);
        grid->addWidget(down, 3, k, Qt::AlignHCenter);
        m_sourceLabels[k] = label;
        m_upButtons[k] = up;
        m_currentBoxes[k] = box;
        m_downButtons[k] = down;
    }

    m_generalGroupBox = new QGroupBox(tr("General configuration"));
    m_generalGroupBox->setObjectName(QStringLiteral("generalConfigGroupBox"));
    auto* form = new QFormLayout(m_generalGroupBox);
    m_dimmingCurveBox = new QComboBox;
    m_dimmingCurveBox->setObjectName(QStringLiteral("dimmingCurveComboBox"));
    m_dimmingCurveBox->addItems({tr("Linear"), tr("Logarithmic")});
    m_minLevelBox = new QDoubleSpinBox;
    m_minLevelBox->setObjectName(QStringLiteral("minLevelDoubleSpinBox"));
    m_minLevelBox->setDecimals(1);
    m_minLevelBox->setRange(0.1, 100.0);
    m_minLevelBox->setSuffix(tr(" %"));
    m_ntcBox = new QSpinBox;
    m_ntcBox->setObjectName(QStringLiteral("ntcThrottlingTemperatureSpinBox"));
    m_ntcBox->setMaximum(255);
    m_ntcBox->setValue(InitialNtcTemperature);
    m_ntcBox->setSuffix(QStringLiteral(" \u00BAC"));
    auto* minLevelLabel = new QLabel(tr("Minimum dimming level"));
    minLevelLabel->setObjectName(QStringLiteral("minLevelLabel"));
    auto* ntcLabel = new QLabel(tr("NTC throttling temperature"));
    ntcLabel->setObjectName(QStringLiteral("ntcThrottlingTemperatureLabel"));
    form->addRow(tr("Dimming curve"), m_dimmingCurveBox);
    form->addRow(minLevelLabel, m_minLevelBox);
    form->addRow(ntcLabel, m_ntcBox);

    m_writeButton = new QPushButton(tr("Write"));
    m_writeButton->setObjectName(QStringLiteral("writeConfigPushButton"));
    m_readButton = new QPushButton(tr("Read"));
    m_readButton->setObjectName(QStringLiteral("readConfigPushButton"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_writeButton);
    buttons->addWidget(m_readButton);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_currentGroupBox);
    layout->addWidget(m_generalGroupBox);
    layout->addLayout(buttons);
    layout->addStretch();
}

void KeymarkConfigWidget::setNetwork(KeymarkNetwork* network)
{
    if (network != m_network) {
        for (const QMetaObject::Connection& connection : std::as_const(m_networkConnections))
            disconnect(connection);
        m_networkConnections.clear();
        if (m_network && isVisible())
            m_network->stopPolling();
        m_network = network;
        if (network) {
            m_networkConnections.append(connect(network, &KeymarkNetwork::OnKeymarkConnect, this,
                                                &KeymarkConfigWidget::OnKeymarkConnect));
            m_networkConnections.append(connect(network, &KeymarkNetwork::OnKeymarkDisconnect, this,
                                                &KeymarkConfigWidget::OnKeymarkDisconnect));
            // Jobs queued to a network that goes never report back: the
            // form must not wait for them (nor keep its busy dialog up).
            m_networkConnections.append(connect(network, &QObject::destroyed, this, [this] {
                m_pendingJobs = 0;
                m_reading = false;
                if (m_progress->isVisible())
                    writeDone();
                OnKeymarkDisconnect();
            }));
        }
        // A network that found its tag before it came here announces nothing new.
        if (network && network->isTagConnected())
            OnKeymarkConnect();
        else
            OnKeymarkDisconnect();
    }
    if (m_network && isVisible())
        m_network->startPolling(PollIntervalMs);
}

KeymarkNetwork* KeymarkConfigWidget::network() const
{
    return m_network;
}

bool KeymarkConfigWidget::onNetwork(std::function<void(KeymarkNetwork*, KeymarkDevice*)> work,
                                    std::function<void()> done)
{
    KeymarkNetwork* network = m_network;
    if (!network)
        return false;
    ++m_pendingJobs;
    QPointer<KeymarkConfigWidget> self(this);
    QMetaObject::invokeMethod(
        network,
        [network, self, work = std::move(work), done = std::move(done)] {
            work(network, network->tagDevice());
            // Back through the application object, which outlives every
            // widget; the widget itself is checked in the GUI thread.
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [self, done] {
                    if (!self)
                        return;
                    if (self->m_pendingJobs > 0)
                        --self->m_pendingJobs;
                    if (done)
                        done();
                },
                Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
    return true;
}

void KeymarkConfigWidget::OnKeymarkConnect()
{
    m_connected = true;
    const bool read = canRead();
    // Device 0 gets its parameters first; the Ampwise check reads some of them.
    onNetwork([](KeymarkNetwork*, KeymarkDevice* device) {
        if (device)
            device->addParameters();
    }, [this, read] {
        if (read)
            return;
        m_available = {true, true, true, true};
        setControlsEnabled(m_connected);
        emit sourcesChecked();
    });
    if (read)
        checkAmpwise();
}

void KeymarkConfigWidget::OnKeymarkDisconnect()
{
    m_connected = false;
    setControlsEnabled(false);
    printLine("Keymark disconnected");
}

void KeymarkConfigWidget::checkAmpwise()
{
    auto available = std::make_shared<Availability>(Availability{true, true, true, true});
    onNetwork([available](KeymarkNetwork* network, KeymarkDevice* device) {
        *available = ampwiseAvailability(network, device);
    }, [this, available] {
        m_available = *available;
        setControlsEnabled(m_connected);
        emit sourcesChecked();
    });
}

void KeymarkConfigWidget::setControlsEnabled(bool enable)
{
    for (int k = 0; k < SourceCount; ++k) {
        const bool on = enable && m_available[size_t(k)];
        m_upButtons[k]->setEnabled(on);
        m_currentBoxes[k]->setEnabled(on);
        m_downButtons[k]->setEnabled(on);
    }
    m_dimmingCurveBox->setEnabled(enable);
    m_minLevelBox->setEnabled(enable);
    m_ntcBox->setEnabled(enable);
    m_writeButton->setEnabled(enable && !m_progress->isVisible());
    m_readButton->setEnabled(enable && canRead() && !m_reading);
}

bool KeymarkConfigWidget::isSourceAvailable(int sourceIndex) const
{
    return sourceIndex >= 0 && sourceIndex < SourceCount && m_available[size_t(sourceIndex)];
}

bool KeymarkConfigWidget::isSourceOutOfRange(int sourceIndex) const
{
    return sourceIndex >= 0 && sourceIndex < SourceCount && m_outOfRange[size_t(sourceIndex)];
}

int KeymarkConfigWidget::PercToDALI(double percent, int curve)
{
    return halvorn::km::PercToDALI(percent, curve);
}

double KeymarkConfigWidget::DALIToPerc(int level, int curve)
{
    return halvorn::km::DALIToPerc(level, curve);
}

void KeymarkConfigWidget::setCurrent(int sourceIndex, int value)
{
    if (sourceIndex < 0 || sourceIndex >= SourceCount || value < MinimumCurrent || value > MaximumCurrent)
        return;
    const bool read = canRead();
    const uint number = halvorn::km::currentSourceParameter(sourceIndex);
    onNetwork([read, number, value](KeymarkNetwork* network, KeymarkDevice* device) {
        network->stopPolling();
        if (!read)
            openSession(network);
        writeParameter(device, number, value);
    }, [this] { startPollingIfVisible(); });
}

void KeymarkConfigWidget::write()
{
    std::array<std::optional<int>, SourceCount> currents;
    for (int k = 0; k < SourceCount; ++k) {
        const int value = m_currentBoxes[k]->value();
        if (!m_outOfRange[size_t(k)] && value >= MinimumCurrent && value <= MaximumCurrent)
            currents[size_t(k)] = value;
    }
    const int curve = m_dimmingCurveBox->currentIndex();
    const double minimumPercent = m_minLevelBox->value();
    const int ntc = m_ntcBox->value();
    const bool read = canRead();
    auto curveWritten = std::make_shared<bool>(false);

    const bool queued = onNetwork(
        [=](KeymarkNetwork* network, KeymarkDevice* device) {
            network->stopPolling();
            for (int k = 0; k < SourceCount; ++k) {
                if (!currents[size_t(k)])
                    continue;
                if (!read)
                    openSession(network);
                writeParameter(device, halvorn::km::currentSourceParameter(k), *currents[size_t(k)]);
            }
            *curveWritten = writeParameter(device, KeymarkParameter::DimmingCurve,
                                           curve == LinearCurveIndex ? LinearCurveValue : LogarithmicCurveValue);
            writeParameter(device, KeymarkParameter::MinLevel, halvorn::km::PercToDALI(minimumPercent, curve));
            writeParameter(device, KeymarkParameter::NtcTemperature, ntc);
        },
        [this, curveWritten, curve] {
            if (*curveWritten)
                emit dimCurveChanged(curve);
            startPollingIfVisible();
            emit finishedWrite();
        });
    if (!queued)
        emit finishedWrite();
}

void KeymarkConfigWidget::writeDone()
{
    m_progress->reset();
    m_progress->hide();
    m_writeButton->setEnabled(m_connected);
}

void KeymarkConfigWidget::on_writeConfigPushButton_clicked()
{
    m_writeButton->setEnabled(false);
    emit startWrite();
    m_progress->open();
}

void KeymarkConfigWidget::on_readConfigPushButton_clicked()
{
    if (m_reading)
        return;
    const Availability available = m_available;
    auto result = std::make_shared<ReadResult>();
    m_reading = onNetwork(
        [available, result](KeymarkNetwork* network, KeymarkDevice* device) {
            openSession(network);
            for (int k = 0; k < SourceCount; ++k) {
                if (available[size_t(k)])
                    result->currents[size_t(k)] = readParameter(device, halvorn::km::currentSourceParameter(k));
            }
            result->curve = readParameter(device, KeymarkParameter::DimmingCurve);
            result->minLevel = readParameter(device, KeymarkParameter::MinLevel);
            result->ntc = readParameter(device, KeymarkParameter::NtcTemperature);
        },
        [this, result] {
            m_reading = false;
            showReadResult(*result);
            startPollingIfVisible();
            setControlsEnabled(m_connected);
            emit readFinished();
        });
    m_readButton->setEnabled(false);
    if (!m_reading)
        setControlsEnabled(m_connected);
}

void KeymarkConfigWidget::showReadResult(const ReadResult& result)
{
    // Filling the form is not an edit: with the signals blocked nothing is
    // written back to the tag.
    for (int k = 0; k < SourceCount; ++k) {
        const std::optional<int>& current = result.currents[size_t(k)];
        if (!current)
            continue;
        if (*current < MinimumCurrent || *current > MaximumCurrent) {
            markOutOfRange(k, current);
            continue;
        }
        markOutOfRange(k, std::nullopt);
        const QSignalBlocker blocker(m_currentBoxes[k]);
        m_currentBoxes[k]->setValue(*current);
    }
    if (result.curve) {
        const int index = *result.curve == LogarithmicCurveValue ? 1 : 0;
        m_dimmingCurveBox->setCurrentIndex(index);
        emit dimCurveChanged(index);
    }
    if (result.minLevel) {
        const QSignalBlocker blocker(m_minLevelBox);
        m_minLevelBox->setValue(DALIToPerc(*result.minLevel, m_dimmingCurveBox->currentIndex()));
    }
    if (result.ntc) {
        const QSignalBlocker blocker(m_ntcBox);
        m_ntcBox->setValue(*result.ntc);
    }
}

void KeymarkConfigWidget::markOutOfRange(int sourceIndex, std::optional<int> value)
{
    // An unknown current shows as "out of range" on a value just below the
    // range, where the box stays until the user sets a current (which
    // writes it); no current outside the range is ever written.
    QSpinBox* box = m_currentBoxes[size_t(sourceIndex)];
    const QSignalBlocker blocker(box);
    m_outOfRange[size_t(sourceIndex)] = value.has_value();
    if (!value) {
        box->setSpecialValueText(QString());
        box->setMinimum(MinimumCurrent);
        box->setStyleSheet(QString());
        box->setToolTip(QString());
        return;
    }
    box->setMinimum(MinimumCurrent - 1);
    box->setSpecialValueText(tr("out of range"));
    box->setValue(MinimumCurrent - 1);
    box->setStyleSheet(OutOfRangeStyle);
    box->setToolTip(tr("The tag holds %1 mA, outside %2 to %3 mA. It is not written until you set a value.")
                        .arg(*value)
                        .arg(MinimumCurrent)
                        .arg(MaximumCurrent));
}

void KeymarkConfigWidget::sourceEdited(int sourceIndex, int value)
{
    if (m_outOfRange[size_t(sourceIndex)])
        markOutOfRange(sourceIndex, std::nullopt);
    setCurrent(sourceIndex, value);
}

void KeymarkConfigWidget::stepSource(int sourceIndex, int step)
{
    QSpinBox* box = m_currentBoxes[size_t(sourceIndex)];
    box->setValue(box->value() + step);
}

void KeymarkConfigWidget::on_currentSource1UpToolButton_clicked() { stepSource(0, 1); }
void KeymarkConfigWidget::on_currentSource1SpinBox_valueChanged(int arg1) { sourceEdited(0, arg1); }
void KeymarkConfigWidget::on_currentSource1DownToolButton_clicked() { stepSource(0, -1); }
void KeymarkConfigWidget::on_currentSource2UpToolButton_clicked() { stepSource(1, 1); }
void KeymarkConfigWidget::on_currentSource2SpinBox_valueChanged(int arg1) { sourceEdited(1, arg1); }
void KeymarkConfigWidget::on_currentSource2DownToolButton_clicked() { stepSource(1, -1); }
void KeymarkConfigWidget::on_currentSource3UpToolButton_clicked() { stepSource(2, 1); }
void KeymarkConfigWidget::on_currentSource3SpinBox_valueChanged(int arg1) { sourceEdited(2, arg1); }
void KeymarkConfigWidget::on_currentSource3DownToolButton_clicked() { stepSource(2, -1); }
void KeymarkConfigWidget::on_currentSource4UpToolButton_clicked() { stepSource(3, 1); }
void KeymarkConfigWidget::on_currentSource4SpinBox_valueChanged(int arg1) { sourceEdited(3, arg1); }
void KeymarkConfigWidget::on_currentSource4DownToolButton_clicked() { stepSource(3, -1); }

void KeymarkConfigWidget::on_dimmingCurveComboBox_activated(int)
{
    snapMinimumLevel();
}

void KeymarkConfigWidget::on_minLevelDoubleSpinBox_valueChanged(double)
{
}

void KeymarkConfigWidget::on_minLevelDoubleSpinBox_editingFinished()
{
    snapMinimumLevel();
}

void KeymarkConfigWidget::snapMinimumLevel()
{
    // Only DALI levels can be stored: show the percentage of the level
    // the entered value becomes.
    const int curve = m_dimmingCurveBox->currentIndex();
    const int level = PercToDALI(m_minLevelBox->value(), curve);
    m_minLevelBox->setValue(DALIToPerc(level, curve));
}

void KeymarkConfigWidget::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    printLine("started polling");
    if (m_network)
        m_network->startPolling(PollIntervalMs);
}

void KeymarkConfigWidget::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    printLine("stopped polling");
    if (m_network)
        m_network->stopPolling();
}

void KeymarkConfigWidget::startPollingIfVisible()
{
    if (m_network && isVisible())
        m_network->startPolling(PollIntervalMs);
}

bool KeymarkConfigWidget::canRead() const
{
    return m_network && m_network->canReadTag();
}
