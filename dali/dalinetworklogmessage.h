#pragma once

#include "general/logmessage.h"

#include <cstdint>

namespace halvorn::dali {

// One DALI frame in a network log (class DALI), decoded into five columns:
//
//   kind    bytes   address   name                                    value
//   COMMAND 0B 90   SHORT5    QUERY STATUS
//                                                                     No answer
//   SPECIAL A3 2A             DATA TRANSFER REGISTER                  42 (2A)
//   ANSWER  FF                (5.200 ms)                              255 (FF)
//
// Widths 8, 8, 10 and 40. A SEND of an addressed command ends after its
// name; NOREPLY and FAILURE lines leave the first four columns empty so that
// their text stands under the value of the frame before.
class DaliNetworkLogMessage : public general::LogMessage
{
public:
    // A forward frame; the device type selects the extended-command table.
    static DaliNetworkLogMessage* forward(uint8_t address, uint8_t data, int deviceType,
                                          QThread* thread);
    // A backward frame; delay in units of 104 µs, 0 when not known.
    static DaliNetworkLogMessage* answer(uint8_t answer, uint8_t delay, QThread* thread);
    static DaliNetworkLogMessage* noAnswer(QThread* thread);
    static DaliNetworkLogMessage* failure(QThread* thread);

    QString text() const override;
    QString toolTip() const override;

    uint8_t address() const { return m_address; }
    uint8_t data() const { return m_data; }
    int deviceType() const { return m_deviceType; }
    uint8_t answerValue() const { return m_answer; }
    uint8_t answerDelay() const { return m_delay; }

private:
    DaliNetworkLogMessage(general::MessageType type, QThread* thread);

    QString kindColumn() const;
    QString bytesColumn() const;
    QString addressColumn() const;
    QString nameColumn() const;
    QString valueColumn() const;

    uint8_t m_address = 0;
    uint8_t m_data = 0;
    int m_deviceType = 0;
    uint8_t m_answer = 0;
    uint8_t m_delay = 0;
};

} // namespace halvorn::dali
