#pragma once

#include "sim/simanswer.h"
#include "sim/simtag.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

namespace halvorn::sim {

// The Keymark port of one simulated dongle: the tag interface, with a tag
// (SimTag, and the driver behind it) that can be inserted or pulled out.
// The firmware routes to it the code-0x02 frames that are Chorus
// read-parameter (0x0D) or write-parameter (0x0E) commands to device
// address 0 with a parameter number in 0x0A00–0x0BFF (0x0Axx tag memory,
// 0x0Bxx DALI pass-through).
//
// What the dongle reports:
//   - a dongle that can read ("Keymark read supported", capability bit 6):
//     the tag's answer (status 0), or no answer (status 5) when there is no
//     tag or it ignored the frame;
//   - a write-only dongle: the frame reaches the tag, but nothing is read
//     back (status 5 always).
// "Keymark error" (status flags bit 1): a dongle that can read checks the
// tag whenever the flags are read, so the bit is set exactly while no tag
// is inserted; a write-only dongle knows only whether the last frame it
// sent was taken, so the bit tells whether the last frame went unanswered.
//
// Misbehaving tags (ReplyFault) answer what a damaged tag or contact would
// deliver. The tag can also be set to be pulled out after a number of
// frames, to test a tag that goes in the middle of a sequence.
//
// Called only by the owning SimDongle, with the dongle's lock held; code
// that changes the port while the dongle is plugged in takes that lock:
//   auto guard = dongle->lock(); dongle->keymarkPort().setTagPresent(false);
class SimKeymarkPort
{
public:
    enum class ReplyFault {
        None,
        Silent,      // carries out every frame but never answers
        BadChecksum, // answers with the checksum byte wrong
        ShortFrame,  // answers with the first five bytes only
        LongFrame,   // answers with 12 bytes of noise after the frame
    };

    SimKeymarkPort();

    // True for a frame that the firmware hands to this port.
    static bool isKeymarkFrame(const QByteArray& frame);

    // `canRead`: the dongle reports "Keymark read supported".
    SimAnswer handleFrame(const QByteArray& frame, bool canRead);

    // Status flags bit 1 (see above).
    bool keymarkError(bool canRead) const;
    // Whether the last frame went unanswered (no tag, or ignored).
    bool lastMessageFailed() const { return m_lastMessageFailed; }
    int frameCount() const { return m_frameCount; }
    // The frames that reached the port, oldest first; the last 4096 are kept.
    QList<QByteArray> frames() const { return m_frames; }
    void clearFrames() { m_frames.clear(); }

    bool isTagPresent() const { return m_present; }
    void setTagPresent(bool present);
    // The tag is pulled out once it has handled `frames` more frames
    // (0: never).
    void pullOutTagAfter(int frames);
    ReplyFault replyFault() const { return m_replyFault; }
    void setReplyFault(ReplyFault fault) { m_replyFault = fault; }

    SimTag& tag() { return *m_tag; }
    const SimTag& tag() const { return *m_tag; }
    // Puts another tag in (inserted).
    void insertTag(const SimTagConfig& config);

    // The "keymark" section of the installation file (docs/simulator.md).
    // A malformed section changes nothing and says why.
    bool load(const QJsonObject& section, QString* error);
    QJsonObject save() const;

    // Plugging the dongle in: no frame has failed yet. The tag stays as it is.
    void powerUp();

private:
    QByteArray damaged(QByteArray answer) const;

    std::optional<SimTag> m_tag{std::in_place}; // always holds a tag
    bool m_present = true;
    int m_pullOutAfter = 0;
    ReplyFault m_replyFault = ReplyFault::None;
    bool m_lastMessageFailed = false;
    int m_frameCount = 0;
    QList<QByteArray> m_frames;
};

} // namespace halvorn::sim
