#pragma once

#include "general/search.h"

namespace halvorn::dali {

class DaliNetwork;

// "Search short addresses": removes the devices with short addresses 0..62,
// then asks every short address 0..63 with QUERY CONTROL GEAR and creates a
// DaliDevice for each one that answers.
class DaliShortSearch : public general::Search
{
    Q_OBJECT

public:
    DaliShortSearch(const QString& name, DaliNetwork* network);

    void execute() override;

private:
    DaliNetwork* const m_network;
};

} // namespace halvorn::dali
