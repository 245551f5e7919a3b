#pragma once

#include "general/binsearch.h"
#include "general/logmessage.h"

#include <QHash>
#include <QPointer>

#include <array>
#include <atomic>

namespace halvorn::vx {

class VxNetwork;

// RDM discovery (ANSI E1.20) of the drivers on a DMX line, over the 48-bit
// UID space, on the binary search of BinSearch:
//
//  prepare       removes the devices the previous run found, then sends
//                DISC_UN_MUTE to everyone, twice (same transaction number)
//  checkCondition  DISC_UNIQUE_BRANCH [low, high]: a reception error is a
//                collision ("Multiple"), an answer that does not decode is a
//                collision too ("Multiple (error)"), a decoded UID is a
//                single answer ("Single") whose node singleReplyNode() names
//                - once the UID has answered DISC_UNIQUE_BRANCH [uid, uid]
//                alone: the AND of several answers on the line can decode
//                to a UID nobody has (…01 and …02 give …00), which is a
//                collision too
//  verify        a UID named by singleReplyNode() just now is confirmed as
//                it is (its reply and checksum identified it); any other
//                single address x is asked DISC_UNIQUE_BRANCH [x, x] and
//                must decode to x
//  mute          DISC_MUTE to the UID, a device named "mmmm:dddddddd" with
//                the UID, and the next device address (LID 1, 2, …) written
//                with an RDM SET of PID 0x80D0 (driver parameter 161),
//                without waiting for the answers
//
// Responders that misbehave cannot make it find phantoms or run for ever:
//  - a UID already found in this run gets no second device or LID; it is
//    muted again at most three times, after that its answers count as
//    "No reply" (and never reset the search's retries);
//  - a range that answers again with nothing found since its last answer
//    (its whole sub-tree was examined in between) is "stuck"; after three
//    such answers it is taken as silent for the rest of the run, so a
//    responder whose answers never decode, or two responders with the same
//    UID, end the search instead of holding it in one place.
//
// Every log line goes to the main log with class RDM; a range is written
// as "Address range [12:34:56:78:9a:bc-12:34:56:78:9a:bd] - Word".
class RDMBinSearch : public general::BinSearch
{
    Q_OBJECT

public:
    static constexpr quint64 HighestUid = 0xFFFFFFFFFFFFull;
    static constexpr int MaxRemutes = 3;
    static constexpr int StuckAnswerLimit = 3;
    // Driver parameter 161 "Device Local ID", written over RDM.
    static constexpr quint16 LidParameterNumber = 0x00A1;

    RDMBinSearch(const QString& name, VxNetwork* network);

    VxNetwork* network() const { return m_network.data(); }
    quint16 nextLid() const { return m_nextLid.load(); }
    // DISC_UNIQUE_BRANCH requests sent by the last (or the running) run.
    int uniqueBranchCount() const { return m_uniqueBranchCount.load(); }
    // Devices created by the last (or the running) run.
    int foundCount() const { return m_foundCount.load(); }

    general::SearchNode* singleReplyNode() override;
    void prepare() override;
    void mute(general::SearchNode* node) override;
    int checkCondition(general::SearchNode* node) override;
    bool verify(general::SearchNode* node) override;

    // "Address range [lower-upper] - word".
    static QString rangeLine(quint64 lower, quint64 upper, const QString& word);

private:
    struct BranchAnswer {
        int result = NoReply;   // BinSearch::Answer
        QString word;
        general::MessageType lineType = general::NOREPLY;
        bool decoded = false;
        quint64 uid = 0;
    };
    struct NodeRecord {
        int progressAtLastAnswer = -1;
        int stuckAnswers = 0;
        bool silenced = false;
    };

    // Sends DISC_UNIQUE_BRANCH [lower, upper] and classifies the answer.
    BranchAnswer askBranch(quint64 lower, quint64 upper);
    // Asks DISC_UNIQUE_BRANCH [uid, uid]; true when the UID answers it cleanly.
    bool answersAlone(quint64 uid);
    // Re-mutes a UID found before in this run, at most MaxRemutes times;
    // false once it has had them all.
    bool remute(quint64 uid);
    // Counts an answer of `node`; true when the node is now taken as silent.
    bool noteAnswer(general::SearchNode* node);
    void sendDiscMute(quint64 uid);
    void assignLid(quint64 uid, quint16 lid);
    general::SearchNode* nodeForUid(quint64 uid);

    QPointer<VxNetwork> m_network;
    // The range being asked, most significant byte first.
    std::array<quint8, 6> m_lowerUid{};
    std::array<quint8, 6> m_upperUid{};
    std::atomic<quint16> m_nextLid{0};
    general::SearchNode* m_answeringNode = nullptr;
    // The node singleReplyNode() handed out, until verify() takes it.
    general::SearchNode* m_shortcutNode = nullptr;
    // All below belong to one run (cleared by prepare(); the nodes are the base's).
    QHash<quint64, int> m_remutes;                 // found UID -> re-mutes sent
    QHash<quint64, general::SearchNode*> m_uidNodes;
    QHash<const general::SearchNode*, NodeRecord> m_nodeRecords;
    int m_progress = 0;                            // devices found so far in this run
    std::atomic<int> m_uniqueBranchCount{0};
    std::atomic<int> m_foundCount{0};
};

} // namespace halvorn::vx
