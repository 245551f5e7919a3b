#pragma once

#include "sim/simanswer.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

namespace halvorn::sim {

// The Keymark port of one simulated dongle: the tag interface. The firmware
// routes to it the code-0x02 frames that are Chorus read-parameter (0x0D) or
// write-parameter (0x0E) commands to device address 0 with a parameter
// number in 0x0A00–0x0BFF (0x0Axx tag memory, 0x0Bxx DALI pass-through).
//
// Equipment: handleFrame() is where the tag answers. This class has no tag
// yet, so every frame goes unanswered and marks the last message as failed
// (status flags bit 1, "Keymark error"). The tag model goes here (load it
// from the "keymark" section of the installation file in load(), write it
// back in save()).
//
// Called only by the owning SimDongle, with the dongle's lock held.
class SimKeymarkPort
{
public:
    SimKeymarkPort();

    // True for a frame that the firmware hands to this port.
    static bool isKeymarkFrame(const QByteArray& frame);

    SimAnswer handleFrame(const QByteArray& frame);

    // Status flags bit 1: the last message had an error (no tag, or the
    // tag did not answer).
    bool lastMessageFailed() const { return m_lastMessageFailed; }
    int frameCount() const { return m_frameCount; }

    // The "keymark" section of the installation file.
    bool load(const QJsonObject& section, QString* error);
    QJsonObject save() const;

    void powerUp();

private:
    bool m_lastMessageFailed = false;
    int m_frameCount = 0;
};

} // namespace halvorn::sim
