#pragma once

#include "general/binsearch.h"

#include <cstdint>

namespace halvorn::dali {

class DaliNetwork;

// The DALI random-address search ("Search all devices", "Search new
// devices"): INITIALISE and RANDOMISE the gear, narrow the 24-bit search
// address with the generic binary search (COMPARE: does any gear have a
// random address <= the search address?), and give each gear isolated that
// way the next free short address, checked with QUERY SHORT ADDRESS.
//
// A verification nobody answers (the generic search verifies single
// addresses reached by descending without asking them, so about half of all
// verifications hit an empty address) is not an error; a wrong answer or a
// garbled one is, and so is every verification after a failed one until a
// gear is verified again (the gear that failed keeps answering COMPARE, and
// the search walks on above it). Ten errors abort the search. When short addresses
// 0..62 are all taken, the search stops without programming.
class DaliBinSearch : public general::BinSearch
{
    Q_OBJECT

public:
    // The data byte of INITIALISE.
    enum Mode : uint8_t { AllDevices = 0x00, NewDevices = 0xFF };
    static constexpr int MaxErrors = 10;

    DaliBinSearch(const QString& name, DaliNetwork* network, Mode mode);

    Mode mode() const { return m_mode; }
    int errorCount() const { return m_errorCount; }

    void prepare() override;
    void mute(general::SearchNode* node) override;
    int checkCondition(general::SearchNode* node) override;
    bool verify(general::SearchNode* node) override;

private:
    // Sends the bytes of the search address that differ from the ones last
    // sent; true when any was sent, or when H and M are both 0xFF.
    bool setSearchAddress(uint32_t address);
    QString searchAddressPrefix(uint32_t address) const;

    DaliNetwork* const m_network;
    const Mode m_mode;
    int m_nextShortAddress = 0; // −1: none left
    int m_errorCount = 0;
    bool m_lastVerifyFailed = false;
};

} // namespace halvorn::dali
