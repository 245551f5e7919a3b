#include "vx/chbinsearch.h"

#include "vx/vxnetwork.h"

namespace halvorn::vx {

CHBinSearch::CHBinSearch(const QString& name, VxNetwork* network)
    : general::BinSearch(name, 0, 0xFFFFFFFFull, false)
    , m_network(network)
{
    setTarget(network);
}

void CHBinSearch::prepare()
{
}

void CHBinSearch::mute(general::SearchNode* node)
{
    traceMute(node);
}

int CHBinSearch::checkCondition(general::SearchNode*)
{
    return NoReply;
}

bool CHBinSearch::verify(general::SearchNode* node)
{
    traceVerify(node);
    return false;
}

} // namespace halvorn::vx
