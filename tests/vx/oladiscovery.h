#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <ola/rdm/DiscoveryAgent.h>
#include <ola/rdm/UID.h>

#include <deque>
#include <functional>
#include <set>

// OLA's RDM DiscoveryAgent driven synchronously, as an independent
// reference for our discovery: the agent's questions are answered by the
// functions given, and its callbacks run from a queue (not nested), so a
// long discovery does not grow the stack.
//
//   OlaDiscovery ola;
//   ola.branch = [&](quint64 lower, quint64 upper) { return responseBytes; };
//   std::set<quint64> uids = ola.run();
class OlaDiscovery : public ola::rdm::DiscoveryTargetInterface
{
public:
    // The bytes heard after DISC_UNIQUE_BRANCH [lower, upper]; empty for silence.
    std::function<QByteArray(quint64 lower, quint64 upper)> branch;
    // DISC_MUTE to the UID; true when the mute was acknowledged.
    std::function<bool(quint64 uid)> mute = [](quint64) { return true; };
    std::function<void()> unmuteAll = [] {};

    static quint64 toUid(const ola::rdm::UID& uid)
    {
        return quint64(uid.ManufacturerId()) << 32 | uid.DeviceId();
    }

    // Runs a full discovery; returns the UIDs found.
    std::set<quint64> run()
    {
        ola::rdm::DiscoveryAgent agent(this);
        bool finished = false;
        std::set<quint64> found;
        agent.StartFullDiscovery(ola::NewSingleCallback(
            +[](bool* done, std::set<quint64>* out, bool, const ola::rdm::UIDSet& uids) {
                for (auto it = uids.Begin(); it != uids.End(); ++it)
                    out->insert(toUid(*it));
                *done = true;
            },
            &finished, &found));
        while (!m_pending.empty()) {
            auto next = std::move(m_pending.front());
            m_pending.pop_front();
            next();
        }
        return finished ? found : std::set<quint64>{};
    }

    int branchCount() const { return m_branchCount; }

    void MuteDevice(const ola::rdm::UID& target, MuteDeviceCallback* done) override
    {
        const bool acknowledged = mute(toUid(target));
        m_pending.push_back([done, acknowledged] { done->Run(acknowledged); });
    }

    void UnMuteAll(UnMuteDeviceCallback* done) override
    {
        unmuteAll();
        m_pending.push_back([done] { done->Run(); });
    }

    void Branch(const ola::rdm::UID& lower, const ola::rdm::UID& upper, BranchCallback* done) override
    {
        ++m_branchCount;
        const QByteArray heard = branch(toUid(lower), toUid(upper));
        m_pending.push_back([done, heard] {
            done->Run(heard.isEmpty() ? nullptr : reinterpret_cast<const uint8_t*>(heard.constData()),
                      unsigned(heard.size()));
        });
    }

private:
    std::deque<std::function<void()>> m_pending;
    int m_branchCount = 0;
};
