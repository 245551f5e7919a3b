#pragma once

#include <QApplication>
#include <QString>

#include <functional>
#include <vector>

// The application object. It keeps running when an event handler throws a
// standard exception (the exception is written to the debug output and the
// event counts as not handled), and it runs the shut-down steps when the
// event loop is about to end.
class MyApplication : public QApplication
{
    Q_OBJECT

public:
    MyApplication(int& argc, char** argv);
    ~MyApplication() override;

    bool notify(QObject* receiver, QEvent* event) override;

    // Registers a step for cleanup(); steps run once, the last registered first.
    void addShutdownStep(std::function<void()> step);

    // Whether the program runs on the virtual Portline (--simulate), and the
    // file that describes the simulated equipment (empty: the default set-up).
    void setSimulation(bool simulate, const QString& simulationFile);
    bool isSimulated() const { return m_simulate; }
    QString simulationFile() const { return m_simulationFile; }

    static MyApplication* instance();

public Q_SLOTS:
    void cleanup();

private:
    std::vector<std::function<void()>> m_shutdownSteps;
    bool m_simulate = false;
    QString m_simulationFile;
};
