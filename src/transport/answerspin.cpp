#include "answerspin.h"

#include <QElapsedTimer>

#include <algorithm>

#include <poll.h>
#include <sched.h>

bool AnswerSpin::shouldSpin()
{
    if (m_pause == 0)
        return true;
    --m_pause;
    return false;
}

void AnswerSpin::record(bool answered)
{
    if (answered) {
        m_nextPause = 1;
        return;
    }
    m_pause = m_nextPause;
    m_nextPause = std::min(m_nextPause * 2, MaxPause);
}

bool AnswerSpin::wait(int fd)
{
    if (fd < 0 || !shouldSpin())
        return false;
    pollfd entry{fd, POLLIN, 0};
    QElapsedTimer timer;
    timer.start();
    bool answered = false;
    for (;;) {
        if (::poll(&entry, 1, 0) != 0) {
            answered = true; // input, the close, or an error: the loop handles it
            break;
        }
        if (timer.nsecsElapsed() >= m_budgetNs)
            break;
        // A peer on this same CPU gets to run and answer.
        ::sched_yield();
    }
    record(answered);
    return answered;
}
