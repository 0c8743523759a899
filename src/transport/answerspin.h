#pragma once

#include <QtGlobal>

// Waits briefly, awake, for an answer that the peer sends at once.
//
// A thread that sleeps in poll() is woken by the kernel when the answer
// lands, and across CPUs that wake-up can cost more than the exchange itself
// (on virtual machines it often takes 20 to 50 us on each side). Where the
// protocol allows one step per answer, as the folder entry exchange does, a
// short spin on the socket catches a quick answer without the wake-up: on
// loopback it more than doubles the entries per second and lowers the CPU
// time per entry. It gives way to any other thread that wants the CPU, and it
// learns: after a wait that ran out of budget it stops spinning for a growing
// number of waits (up to MaxPause), so a slow link costs next to nothing.
class AnswerSpin
{
public:
    static constexpr qint64 DefaultBudgetNs = 100'000;
    static constexpr int MaxPause = 1024;

    explicit AnswerSpin(qint64 budgetNs = DefaultBudgetNs) : m_budgetNs(budgetNs) {}

    // Spins until fd has input (or is closed or failed) or the budget is
    // spent, unless the last waits advise against it; the event loop reads
    // the input as usual afterwards. Returns whether input was seen.
    bool wait(int fd);

    // The policy, without the socket: whether this wait spins, and the outcome
    // of a wait that did.
    bool shouldSpin();
    void record(bool answered);

private:
    qint64 m_budgetNs;
    int m_pause = 0;     // waits still to skip
    int m_nextPause = 1; // skipped after the next miss
};
