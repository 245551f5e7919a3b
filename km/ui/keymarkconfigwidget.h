#pragma once

#include <QPointer>
#include <QWidget>

#include <array>
#include <functional>
#include <optional>

class QComboBox;
class QDoubleSpinBox;
class QGroupBox;
class QLabel;
class QProgressDialog;
class QPushButton;
class QSpinBox;
class QToolButton;

namespace halvorn::km {
class KeymarkDevice;
class KeymarkNetwork;
} // namespace halvorn::km

// The form with which the user sets a driver's output currents and general
// settings through its Keymark tag: four current sources (200–1050 mA),
// the dimming curve, the minimum dimming level in percent and the NTC
// throttling temperature. It works on device 0 of a KeymarkNetwork through
// that device's parameters (the DALI parameter map, carried in tag frames).
//
// On connection it builds the device's parameters and asks the driver how
// many current-source (Ampwise) chips it has and which sources they drive
// (checkAmpwise); only those sources can be edited. A current changed by
// the user is written at once; "Write" writes the whole form behind a busy
// dialog; "Read" fills the form from the tag. The tag is polled for
// presence only while the form is visible.
//
// Threads: every tag access runs in the Keymark network's own thread
// (queued there, in order, between the presence polls), and the form is
// updated with the outcome back in the GUI thread, so that a slow or absent
// tag never holds up the window. Read fills the spin boxes with their
// signals blocked, so reading never writes; a current the tag holds outside
// 200–1050 mA (a blank tag holds 0xFFFF) is shown as out of range and is
// not written until the user sets a value.
class KeymarkConfigWidget : public QWidget
{
    Q_OBJECT

public:
    static constexpr int SourceCount = 4;
    static constexpr int MinimumCurrent = 200;
    static constexpr int MaximumCurrent = 1050;
    static constexpr int PollIntervalMs = 2000;

    explicit KeymarkConfigWidget(QWidget* parent = nullptr);
    ~KeymarkConfigWidget() override;

    void setNetwork(halvorn::km::KeymarkNetwork* network);
    halvorn::km::KeymarkNetwork* network() const;

    // Writes source k's current (0..3); values outside 200..1050 are ignored.
    void setCurrent(int sourceIndex, int value);
    // Finds out which current sources the driver has (on the network's thread).
    void checkAmpwise();
    void setControlsEnabled(bool enable);

    bool isSourceAvailable(int sourceIndex) const;
    // The last Read found a current outside 200..1050 for this source.
    bool isSourceOutOfRange(int sourceIndex) const;
    // A read, write or connection check is under way on the network's thread.
    bool isBusy() const { return m_pendingJobs > 0; }

    static int PercToDALI(double percent, int curve);
    static double DALIToPerc(int level, int curve);

Q_SIGNALS:
    void startWrite();
    void finishedWrite();
    void dimCurveChanged(int curve);
    // Read has filled the form (also after failed reads).
    void readFinished();
    // The form knows which sources exist (after a connection).
    void sourcesChecked();

public Q_SLOTS:
    void OnKeymarkConnect();
    void OnKeymarkDisconnect();
    void write();
    void writeDone();

private Q_SLOTS:
    void on_currentSource1UpToolButton_clicked();
    void on_currentSource1SpinBox_valueChanged(int arg1);
    void on_currentSource1DownToolButton_clicked();
    void on_currentSource2UpToolButton_clicked();
    void on_currentSource2SpinBox_valueChanged(int arg1);
    void on_currentSource2DownToolButton_clicked();
    void on_currentSource3UpToolButton_clicked();
    void on_currentSource3SpinBox_valueChanged(int arg1);
    void on_currentSource3DownToolButton_clicked();
    void on_currentSource4UpToolButton_clicked();
    void on_currentSource4SpinBox_valueChanged(int arg1);
    void on_currentSource4DownToolButton_clicked();
    void on_writeConfigPushButton_clicked();
    void on_dimmingCurveComboBox_activated(int index);
    void on_readConfigPushButton_clicked();
    void on_minLevelDoubleSpinBox_valueChanged(double arg1);
    void on_minLevelDoubleSpinBox_editingFinished();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    struct ReadResult;
    using Availability = std::array<bool, SourceCount>;

    void buildForm();
    // Runs `work` in the network's thread with the network and device 0,
    // then `done` in the GUI thread while this widget still exists. False
    // (nothing run) without a network.
    bool onNetwork(std::function<void(halvorn::km::KeymarkNetwork*, halvorn::km::KeymarkDevice*)> work,
                   std::function<void()> done = {});
    void sourceEdited(int sourceIndex, int value);
    void stepSource(int sourceIndex, int step);
    void showReadResult(const ReadResult& result);
    void markOutOfRange(int sourceIndex, std::optional<int> value);
    void snapMinimumLevel();
    void startPollingIfVisible();
    bool canRead() const;

    QPointer<halvorn::km::KeymarkNetwork> m_network;
    QList<QMetaObject::Connection> m_networkConnections;
    Availability m_available{true, true, true, true};
    std::array<bool, SourceCount> m_outOfRange{};
    bool m_connected = false;
    bool m_reading = false;
    int m_pendingJobs = 0;

    QGroupBox* m_currentGroupBox = nullptr;
    std::array<QLabel*, SourceCount> m_sourceLabels{};
    std::array<QToolButton*, SourceCount> m_upButtons{};
    std::array<QSpinBox*, SourceCount> m_currentBoxes{};
    std::array<QToolButton*, SourceCount> m_downButtons{};
    QGroupBox* m_generalGroupBox = nullptr;
    QComboBox* m_dimmingCurveBox = nullptr;
    QDoubleSpinBox* m_minLevelBox = nullptr;
    QSpinBox* m_ntcBox = nullptr;
    QPushButton* m_writeButton = nullptr;
    QPushButton* m_readButton = nullptr;
    QProgressDialog* m_progress = nullptr;
};
