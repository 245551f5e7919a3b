#pragma once

#include "general/logmessage.h"

#include <QByteArray>

#include <array>

namespace halvorn::vx {

// A log line for one command/reply frame on the DMX line (Chorus or RDM),
// or for a missing answer. It keeps a copy of the frame (at most 64 bytes)
// and decodes it once, at construction, into four columns:
//
//   protocol  "CHORUS", "RDM DISC", "RDM GET", "RDM SET" (or "RDM ")
//   hex       every byte as two upper-case hex digits and a space
//   address   Chorus only: "BROADCAST", "SKIP k" or the LID in decimal
//   command   Chorus only: the name of the code (ChorusCommandTable)
//
// Classification may change the message type: a Chorus frame that is not
// 9 bytes long becomes FAILURE, an error reply WARN, an answer REPLY, a bad
// checksum ERRCS; an RDM response becomes REPLY, a bad checksum ERRCS, and
// an RDM frame too short to hold a header and a checksum FAILURE. A message
// constructed as FAILURE keeps its type and decodes no protocol.
//
// The Keymark network logs its tag frames (Chorus frames to address 0) with
// this class too.
class VxNetworkLogMessage : public general::LogMessage
{
public:
    static constexpr int MaxFrameLength = 64;

    enum Protocol : quint8 { NoProtocol = 0, ChorusProtocol = 1, RdmProtocol = 2 };
    enum RdmKind : quint8 { RdmDisc = 0, RdmGet = 1, RdmSet = 2, RdmOther = 0xFF };

    // A message without a frame (a missing answer).
    VxNetworkLogMessage(general::MessageClass msgClass, general::MessageType type, QThread* thread);
    // Copies at most 64 bytes of the frame.
    VxNetworkLogMessage(general::MessageClass msgClass, general::MessageType type, QThread* thread,
                        const quint8* frame, int length);

    QString text() const override;
    QString toolTip() const override { return QString(); }

    QByteArray frame() const;
    int frameLength() const { return m_frameLength; }
    Protocol protocol() const { return m_protocol; }
    RdmKind rdmKind() const { return m_rdmKind; }
    bool isClassified() const { return m_classified; }
    QString protocolText() const { return m_protocolText; }
    QString hexText() const { return m_hexText; }
    QString addressText() const { return m_addressText; }
    QString commandText() const { return m_commandText; }

private:
    void classify();
    void classifyChorus();
    void classifyRdm();
    void composeTexts();

    std::array<quint8, MaxFrameLength> m_frame{};
    quint8 m_frameLength = 0;
    Protocol m_protocol = NoProtocol;
    RdmKind m_rdmKind = RdmDisc;
    bool m_classified = false;
    QString m_protocolText;
    QString m_hexText;
    QString m_addressText;
    QString m_commandText;
};

} // namespace halvorn::vx
