#pragma once

#include "general/task.h"

#include <QPointer>

namespace halvorn::usb {

class USBDongle;

// Runs a dongle's initialize() (version read, parameter table, networks) in
// the task pool, so that a dongle that does not answer never holds up the
// window. Deleted by the scheduler when done.
class DongleInitTask : public general::Task
{
    Q_OBJECT

public:
    explicit DongleInitTask(USBDongle* dongle);

    void execute() override;

private:
    QPointer<USBDongle> m_dongle;
};

} // namespace halvorn::usb
