#include "usb/usbdongle.h"

#include "general/bitflagparameterview.h"
#include "general/log.h"
#include "general/parameter.h"
#include "general/parametergroup.h"
#include "general/taskscheduler.h"
#include "usb/dongleinittask.h"
#include "usb/donglenetworkfactory.h"
#include "usb/usbhandler.h"
#include "usb/usbnetwork.h"


namespace halvorn::usb {

using general::BitFlagParameterView;
using general::Parameter;
using general::ParameterGroup;

namespace {

// The network of one bus: made by the registered factory, or a plain
// network when none is registered (a USB layer used on its own).
using FactoryMethod = general::Network* (DongleNetworkFactory::*)(USBDongle*);

general::Network* makeNetwork(USBDongle* dongle, FactoryMethod method, const QString& fallbackName)
{
    if (DongleNetworkFactory* factory = DongleNetworkFactory::instance())
        return (factory->*method)(dongle);
    auto* network = new general::Network(dongle);
    network->setName(fallbackName);
    return network;
}

const QString GroupName = QStringLiteral("Parameters");

struct BitEntry {
    uint parameter;
    int bit;
    const char* name;
    const char* description;
};

constexpr BitEntry Bits[] = {
    {USBDongle::CapabilitiesParameter, 0, "DMX supported", " Portline is capable of communicating DMX setpoints"},
    {USBDongle::CapabilitiesParameter, 1, "Chorus supported", "Portline is capable of command/reply type communication using Chorus"},
    {USBDongle::CapabilitiesParameter, 2, "DALI supported", "Portline is capable of command/reply type communication using DALI"},
    {USBDongle::CapabilitiesParameter, 3, "DALI bus power", "Portline is capable of proving its own DALI bus power"},
    {USBDongle::CapabilitiesParameter, 4, "IO Pin manipulation supported", "Portline is capable of manipulating specific IO pins"},
    {USBDongle::CapabilitiesParameter, 5, "Keymark supported", "Portline is capable of writing to Keymark devices"},
    {USBDongle::CapabilitiesParameter, 6, "Keymark read supported", "Portline is capable of reading Keymark devices"},
    {USBDongle::StatusFlagsParameter, 0, "DALI bus connected", "DALI bus connection status"},
    {USBDongle::StatusFlagsParameter, 1, "Keymark error", "Keymark connection status: last message had an error"},
    {USBDongle::ConfigurationFlagsParameter, 0, "DALI Bus power", "DALI bus power 12V"},
    {USBDongle::IoPinsParameter, 13, "TRISA5", ""},
    {USBDongle::IoPinsParameter, 12, "TRISA4", ""},
    {USBDongle::IoPinsParameter, 10, "TRISA2", ""},
    {USBDongle::IoPinsParameter, 8, "TRISB5", ""},
    {USBDongle::IoPinsParameter, 5, "PORTA5", ""},
    {USBDongle::IoPinsParameter, 4, "PORTA4", ""},
    {USBDongle::IoPinsParameter, 2, "PORTA2", ""},
    {USBDongle::IoPinsParameter, 0, "PORTB5", ""},
};

} // namespace

struct USBDongle::ParameterEntry {
    uint number;
    const char* name;
    bool is8Bit;
    bool readOnly;
    int displayMode;
    bool checkable; // shows an auto-update check box
};

namespace {

constexpr int Dec = Parameter::Decimal;

} // namespace

// The parameter table, in the order the parameters are added.
static constexpr USBDongle::ParameterEntry VersionSpec{USBDongle::VersionParameter, "Portline Version", true, true, Dec, false};
static constexpr USBDongle::ParameterEntry KeymarkVersionSpec{USBDongle::KeymarkVersionParameter, "Portline Keymark Version", true, true, Dec, false};
static constexpr USBDongle::ParameterEntry KeymarkCapabilitiesSpec{USBDongle::KeymarkCapabilitiesParameter, "Portline Keymark capabilities", true, true, Dec, false};
static constexpr USBDongle::ParameterEntry CapabilitiesSpec{USBDongle::CapabilitiesParameter, "Portline capabilities flags", true, true, Parameter::Hexadecimal, false};
static constexpr USBDongle::ParameterEntry StatusSpec{USBDongle::StatusFlagsParameter, "Portline status flags", false, true, Dec, false};
static constexpr USBDongle::ParameterEntry ConfigurationSpec{USBDongle::ConfigurationFlagsParameter, "Portline configuration flags", false, false, Dec, false};
static constexpr USBDongle::ParameterEntry ModeSpec{USBDongle::ModeParameter, "Portline Mode", false, false, Dec, false};
static constexpr USBDongle::ParameterEntry IoPinsSpec{USBDongle::IoPinsParameter, "General I/O pin management", false, false, Dec, false};
static constexpr USBDongle::ParameterEntry SupplySpecs[] = {
    {USBDongle::DaliDutyCycleParameter, "DALI output voltage dutcycle", false, false, Dec, false},
    {USBDongle::DaliFeedbackHighParameter, "DALI feedback voltage (high)", false, false, Dec, true},
    {USBDongle::DaliFeedbackLowMinParameter, "DALI feedback voltage (low min)", false, false, Dec, true},
    {USBDongle::DaliFeedbackLowMaxParameter, "DALI feedback voltage (low max)", false, false, Dec, true},
    {USBDongle::DmxChannelCountParameter, "DMX channel count", false, false, Dec, false},
};

USBDongle::USBDongle(std::shared_ptr<USBHandler> handler, int dongleIndex, general::TreeNode* parent)
    : general::Device(nullptr, uint(dongleIndex), QStringLiteral("Portline"), parent)
    , m_handler(std::move(handler))
    , m_dongleIndex(dongleIndex)
{
    setIcons(QStringLiteral(":/icons/usb/connected"), QStringLiteral(":/icons/usb/disconnected"));
    connect(this, &USBDongle::initializeNetworks, this, &USBDongle::createDaliNetwork);
    connect(this, &USBDongle::initializeNetworks, this, &USBDongle::createVxNetwork);
    connect(this, &USBDongle::initializeNetworks, this, &USBDongle::createKeymarkNetwork);
    if (parent)
        parent->addChild(this, true);
}

USBDongle::~USBDongle()
{
    // The networks' threads transfer through the handler and read the
    // dongle's parameters: they stop, with their networks, first.
    const QList<general::TreeNode*> children = childNodes();
    for (general::TreeNode* child : children)
        if (qobject_cast<general::Network*>(child))
            delete child;
}

void USBDongle::transfer(const unsigned char* request, int requestLength, unsigned char* reply,
                         int* replyLength)
{
    if (!isEnabled())
        return;
    m_handler->transfer(m_dongleIndex, request, requestLength, reply, replyLength);
}

bool USBDongle::flagBit(uint parameterNumber, int bit) const
{
    const Parameter* parameter = findParameter(parameterNumber);
    const int value = parameter ? parameter->value() : -1;
    return value >= 0 && ((value >> bit) & 1);
}

bool USBDongle::readFlagBit(uint parameterNumber, int bit)
{
    if (!isConnected())
        return false;
    Parameter* parameter = findParameter(parameterNumber);
    return parameter && parameter->update(true) && flagBit(parameterNumber, bit);
}

bool USBDongle::isDMXSupported() const
{
    return !isVersionKnown() || flagBit(CapabilitiesParameter, DmxCapabilityBit);
}

bool USBDongle::isDALISupported() const
{
    return isVersionKnown() && flagBit(CapabilitiesParameter, DaliCapabilityBit);
}

bool USBDongle::isKeymarkWriteSupported() const
{
    return isVersionKnown() && flagBit(CapabilitiesParameter, KeymarkCapabilityBit);
}

bool USBDongle::isKeymarkReadSupported() const
{
    return isVersionKnown() && flagBit(CapabilitiesParameter, KeymarkReadCapabilityBit);
}

bool USBDongle::isDALIBusConnected()
{
    return readFlagBit(StatusFlagsParameter, DaliBusConnectedBit);
}

bool USBDongle::isKeymarkMessageOk()
{
    if (!isConnected())
        return false;
    Parameter* status = findParameter(StatusFlagsParameter);
    return status && status->update(true) && !flagBit(StatusFlagsParameter, KeymarkErrorBit);
}

bool USBDongle::setDALIBusPower(bool on)
{
    BitFlagParameterView* bit = m_busPowerBit.load();
    if (!bit) {
        general::logToMain(general::USB,
                           QStringLiteral("DALI bus power not switched: the Portline's configuration "
                                          "flags have not been read"),
                           general::WARN);
        return false;
    }
    // The bit view reads an unknown configuration first and refuses (with a
    // log line) when that fails, so the other flags are never guessed.
    return bit->setBit(on, true);
}

QString USBDongle::versionText() const
{
    if (!isVersionKnown())
        return QStringLiteral("&lt; 4.0");
    const Parameter* version = findParameter(VersionParameter);
    if (!version)
        return QStringLiteral("Unknown");
    return QString::number(version->value()) + QStringLiteral(".0");
}

void USBDongle::initialize()
{
    searchParameters();
}

void USBDongle::queueInitialize()
{
    general::TaskScheduler::instance()->addTask(new DongleInitTask(this));
}

void USBDongle::shutdown()
{
    setEnabled(false);
    for (general::Network* network : {vxNetwork(), daliNetwork(), keymarkNetwork()}) {
        if (auto* usbNetwork = qobject_cast<USBNetwork*>(network))
            usbNetwork->setDongle(nullptr);
    }
    m_handler->closeDevice(m_dongleIndex);
}

ParameterGroup* USBDongle::parameterGroup()
{
    if (auto* group = qobject_cast<ParameterGroup*>(findChild(GroupName)))
        return group;
    auto* group = new ParameterGroup(this);
    group->setName(GroupName);
    group->setAutoUpdateCheckable(false);
    addChild(group, true);
    return group;
}

Parameter* USBDongle::ensureParameter(ParameterGroup* group, const ParameterEntry& entry)
{
    auto* created = new Parameter(this, entry.number, QString::fromLatin1(entry.name), QString(), -1, -1,
                                  -1, entry.is8Bit, entry.readOnly, entry.displayMode, 1.0);
    created->setAutoUpdateCheckable(entry.checkable);
    Parameter* inTree = addParameter(group, created);
    if (inTree != created)
        delete created;
    return inTree;
}

bool USBDongle::ensureFlagParameter(ParameterGroup* group, const ParameterEntry& entry)
{
    if (findParameter(entry.number))
        return false;
    Parameter* parameter = ensureParameter(group, entry);
    for (const BitEntry& bitEntry : Bits) {
        if (bitEntry.parameter != entry.number)
            continue;
        auto* bit = new BitFlagParameterView(parameter, bitEntry.bit, QString::fromLatin1(bitEntry.name),
                                             QString::fromLatin1(bitEntry.description));
        parameter->addView(bit);
        if (entry.number == ConfigurationFlagsParameter && bitEntry.bit == DaliBusPowerBit)
            m_busPowerBit.store(bit);
    }
    return true;
}

void USBDongle::searchParameters()
{
    std::lock_guard<std::mutex> locker(m_initMutex);
    ParameterGroup* group = parameterGroup();

    Parameter* version = ensureParameter(group, VersionSpec);
    bool versionRead = false;
    for (int attempt = 0; attempt < VersionReadTries && !versionRead; ++attempt)
        versionRead = version->update(true);

    if (!versionRead) {
        // Firmware before 4.0 cannot report its version or its parameters.
        m_versionKnown = false;
        version->setValue(3, true);
        version->setReadState(Parameter::ReadOk);
        general::logToMain(general::USB,
                           QStringLiteral("Portline (%1) does not report its firmware version: "
                                          "assuming a version before 4.0").arg(m_dongleIndex),
                           general::WARN);
    } else {
        m_versionKnown = true;
        ensureParameter(group, KeymarkVersionSpec);
        ensureParameter(group, KeymarkCapabilitiesSpec);
        for (const ParameterEntry* flags : {&CapabilitiesSpec, &StatusSpec, &ConfigurationSpec}) {
            if (ensureFlagParameter(group, *flags))
                findParameter(flags->number)->update(true);
        }
        ensureParameter(group, ModeSpec);
        ensureFlagParameter(group, IoPinsSpec);
        for (const ParameterEntry& entry : SupplySpecs)
            ensureParameter(group, entry);
        const bool allRead = group->update(true);
        general::logToMain(general::USB,
                           QStringLiteral("Portline (%1) parameters read: firmware version %2%3")
                               .arg(m_dongleIndex)
                               .arg(versionText(),
                                    allRead ? QString() : QStringLiteral(" (some reads failed)")),
                           general::INFO);
    }

    // Also after a failed version read: every dongle gets all three networks.
    emit initializeNetworks();
}

void USBDongle::uploadParameter(Parameter* param, bool& ok)
{
    ok = true; // the dongle does not confirm writes
    if (!param)
        return;
    const int value = param->storedValue();
    if (value < 0) {
        general::logToMain(general::USB,
                           QStringLiteral("Portline parameter %1 not written: it has no value")
                               .arg(param->number()),
                           general::WARN);
        return;
    }
    unsigned char request[USBNetwork::PacketLength] = {};
    request[0] = WriteCode;
    request[1] = (param->number() >> 8) & 0xFF;
    request[2] = param->number() & 0xFF;
    request[3] = (value >> 8) & 0xFF;
    request[4] = value & 0xFF;
    unsigned char reply[USBNetwork::PacketLength] = {};
    int replyLength = USBNetwork::PacketLength;
    transfer(request, USBNetwork::PacketLength, reply, &replyLength);
}

uint USBDongle::downloadParameter(Parameter* param, bool& ok)
{
    ok = false;
    if (!param)
        return 0;
    unsigned char request[USBNetwork::PacketLength] = {};
    request[0] = ReadCode;
    request[1] = (param->number() >> 8) & 0xFF;
    request[2] = param->number() & 0xFF;
    unsigned char reply[USBNetwork::PacketLength] = {};
    int replyLength = USBNetwork::PacketLength;
    transfer(request, USBNetwork::PacketLength, reply, &replyLength);

    // A reply too short to hold the value is a failure, not a value of 0.
    if (replyLength < ReadReplyLength || !(reply[0] & 0x80) || (reply[0] & ReadCode) != ReadCode)
        return 0;
    ok = true;
    return uint(reply[3]) << 8 | reply[4];
}

QString USBDongle::infoText() const
{
    const auto yesNo = [](bool yes) { return yes ? QStringLiteral("YES") : QStringLiteral("NO"); };
    QString keymark = QStringLiteral("NO");
    if (isKeymarkWriteSupported())
        keymark = isKeymarkReadSupported() ? QStringLiteral("YES") : QStringLiteral("YES (Write only)");

    return QStringLiteral("<h4 align=\"center\">Halvorn Portline</h4><b>Version:</b> ") + versionText()
        + QStringLiteral("<br><table><th align=\"left\">Capabilities</th>")
        + QStringLiteral("<tr><td align=\"right\">DMX:</td><td>") + yesNo(isDMXSupported())
        + QStringLiteral("</td></tr>") + QStringLiteral("<tr><td align=\"right\">DALI:</td><td>")
        + yesNo(isDALISupported()) + QStringLiteral("</td></tr>")
        + QStringLiteral("<tr><td align=\"right\">Keymark:</td><td>") + keymark
        + QStringLiteral("</td></tr></table>");
}

void USBDongle::adoptNetwork(general::Network* network, std::atomic<general::Network*>& member,
                             void (USBDongle::*created)())
{
    member.store(network);
    connect(network, &general::Network::networkInitialized, this, created);
    addChild(network, false);
    network->emitNetworkCreated();
}

void USBDongle::createDaliNetwork()
{
    if (daliNetwork())
        return;
    general::Network* network =
        makeNetwork(this, &DongleNetworkFactory::createDaliNetwork, QStringLiteral("DALI Network"));
    connect(network, &general::Network::networkInitialized, this, &USBDongle::daliNetworkConnected);
    connect(network, &general::Network::networkDisconnected, this, &USBDongle::daliNetworkDisconnected);
    adoptNetwork(network, m_daliNetwork, &USBDongle::OnDaliNetworkCreated);
}

void USBDongle::createVxNetwork()
{
    if (vxNetwork())
        return;
    adoptNetwork(makeNetwork(this, &DongleNetworkFactory::createVxNetwork, QStringLiteral("DMX Network")),
                 m_vxNetwork, &USBDongle::OnVxNetworkCreated);
}

void USBDongle::createKeymarkNetwork()
{
    if (keymarkNetwork())
        return;
    adoptNetwork(makeNetwork(this, &DongleNetworkFactory::createKeymarkNetwork, QStringLiteral("Keymark Network")),
                 m_keymarkNetwork, &USBDongle::OnKeymarkNetworkCreated);
}

void USBDongle::daliNetworkConnected()
{
}

void USBDongle::daliNetworkDisconnected()
{
}

void USBDongle::autoUpdate()
{
    searchParameters();
}

void USBDongle::onConnect()
{
    setEnabled(true);
    m_versionKnown = false;
}

void USBDongle::onDisconnect()
{
    setEnabled(false);
}

} // namespace halvorn::usb
