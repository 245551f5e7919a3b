#pragma once

#include "general/device.h"
#include "general/network.h"

#include <QString>

#include <atomic>
#include <memory>
#include <mutex>

namespace halvorn::general {
class BitFlagParameterView;
class ParameterGroup;
} // namespace halvorn::general

namespace halvorn::usb {

class USBHandler;

// The Portline dongle as a node of the device tree: a device whose
// parameters live in the dongle's firmware (version, capability, status and
// configuration flags, I/O pins, DALI supply values) and whose children are
// the three bus networks it carries (DALI, Vx — which is also the DMX line —
// and Keymark).
//
// Its networks send their packets through transfer(), which forwards to the
// USB handler under this dongle's index while the node is enabled (it is
// disabled while the dongle is unplugged). Its own parameters are read with
// packet 0x0D and written with 0x0E.
//
// Life: the dongle manager creates one object per dongle index and reuses it
// whenever that index connects again. On every connection the user
// interface runs initialize() (best through queueInitialize(), off the GUI
// thread: a silent dongle takes 3 tries of up to a second to give up),
// which reads the version, builds the parameter table and creates any
// network that does not exist yet. Networks are created once per dongle
// life and stay in the tree.
//
// Thread safety: the node lives in the GUI thread. transfer(), the
// capability queries and initialize() may be called from any thread;
// initialize() runs one at a time per dongle.
class USBDongle : public general::Device
{
    Q_OBJECT
    Q_PROPERTY(halvorn::general::Network* vxNetwork READ vxNetwork)
    Q_PROPERTY(halvorn::general::Network* daliNetwork READ daliNetwork)
    Q_PROPERTY(halvorn::general::Network* keymarkNetwork READ keymarkNetwork)

public:
    // Dongle parameter numbers (the 16-bit addresses in the dongle).
    enum ParameterNumber : uint {
        VersionParameter = 0,
        KeymarkVersionParameter = 1,
        CapabilitiesParameter = 2,
        KeymarkCapabilitiesParameter = 3,
        StatusFlagsParameter = 4,
        ConfigurationFlagsParameter = 8,
        IoPinsParameter = 10,
        ModeParameter = 12,
        DmxChannelCountParameter = 37,
        DaliDutyCycleParameter = 39,
        DaliFeedbackHighParameter = 41,
        DaliFeedbackLowMinParameter = 43,
        DaliFeedbackLowMaxParameter = 45
    };
    // Bit numbers in the capability flags.
    enum CapabilityBit {
        DmxCapabilityBit = 0,
        ChorusCapabilityBit = 1,
        DaliCapabilityBit = 2,
        DaliBusPowerCapabilityBit = 3,
        IoPinCapabilityBit = 4,
        KeymarkCapabilityBit = 5,
        KeymarkReadCapabilityBit = 6
    };
    // Bit numbers in the status and configuration flags.
    enum FlagBit { DaliBusConnectedBit = 0, KeymarkErrorBit = 1, DaliBusPowerBit = 0 };

    // One row of the dongle's parameter table (usbdongle.cpp).
    struct ParameterEntry;

    static constexpr int VersionReadTries = 3;
    static constexpr unsigned char ReadCode = 0x0D;
    static constexpr unsigned char WriteCode = 0x0E;
    // A read reply carries the value in bytes 3 and 4.
    static constexpr int ReadReplyLength = 5;

    // A device named "Portline" added under `parent` (it moves into the
    // parent's thread).
    USBDongle(std::shared_ptr<USBHandler> handler, int dongleIndex, general::TreeNode* parent);
    ~USBDongle() override;

    int dongleIndex() const { return m_dongleIndex; }
    USBHandler* handler() const { return m_handler.get(); }

    // One request/reply exchange with the dongle (see USBHandler::transfer);
    // does nothing at all while the node or an ancestor is disabled.
    void transfer(const unsigned char* request, int requestLength, unsigned char* reply,
                  int* replyLength);

    // True once the firmware version has been read in this connection.
    bool isVersionKnown() const { return m_versionKnown.load(); }
    // DMX is assumed while the version is unknown (old firmware cannot say).
    bool isDMXSupported() const;
    bool isDALISupported() const;
    bool isKeymarkWriteSupported() const;
    bool isKeymarkReadSupported() const;
    // Read from the dongle now; false while it is not connected.
    bool isDALIBusConnected();
    bool isKeymarkMessageOk();
    // Switches the dongle's own DALI bus supply (configuration flags bit 0)
    // by writing parameter 8. An unknown configuration is read first; false
    // (and logged) when it cannot be, so that no guessed flags are written.
    bool setDALIBusPower(bool on);
    // "&lt; 4.0" until the version is known, then e.g. "5.0".
    QString versionText() const;

    general::Network* vxNetwork() const { return m_vxNetwork.load(); }
    general::Network* daliNetwork() const { return m_daliNetwork.load(); }
    general::Network* keymarkNetwork() const { return m_keymarkNetwork.load(); }

    // Reads the version and the parameter table and creates the networks
    // (searchParameters()). Blocking: up to a few seconds on a silent dongle.
    void initialize();
    // Queues initialize() on the task scheduler (a DongleInitTask).
    void queueInitialize();
    // Run by the dongle manager as it goes: disables the node, detaches the
    // networks and closes the USB device.
    void shutdown();

    void searchParameters() override;
    void uploadParameter(halvorn::general::Parameter* param, bool& ok) override;
    uint downloadParameter(halvorn::general::Parameter* param, bool& ok) override;
    QString infoText() const override;

Q_SIGNALS:
    void initializeNetworks();
    void OnDaliNetworkCreated();
    void OnVxNetworkCreated();
    void OnKeymarkNetworkCreated();

public Q_SLOTS:
    void createDaliNetwork();
    void createVxNetwork();
    void createKeymarkNetwork();
    void daliNetworkConnected();
    void daliNetworkDisconnected();
    void autoUpdate();

protected:
    void onConnect() override;
    void onDisconnect() override;

private:
    general::ParameterGroup* parameterGroup();
    general::Parameter* ensureParameter(general::ParameterGroup* group, const ParameterEntry& entry);
    // Creates a flag parameter with its bit views unless it exists; true when created.
    bool ensureFlagParameter(general::ParameterGroup* group, const ParameterEntry& entry);
    bool flagBit(uint parameterNumber, int bit) const;
    bool readFlagBit(uint parameterNumber, int bit);
    // Adds a network made by one of the factory functions in usbdongle.cpp.
    void adoptNetwork(general::Network* network, std::atomic<general::Network*>& member,
                      void (USBDongle::*created)());

    const std::shared_ptr<USBHandler> m_handler;
    const int m_dongleIndex;
    std::atomic<bool> m_versionKnown{false};
    std::atomic<general::Network*> m_daliNetwork{nullptr};
    std::atomic<general::Network*> m_vxNetwork{nullptr};
    std::atomic<general::Network*> m_keymarkNetwork{nullptr};
    std::atomic<general::BitFlagParameterView*> m_busPowerBit{nullptr};
    // One initialize() at a time.
    std::mutex m_initMutex;
};

} // namespace halvorn::usb
