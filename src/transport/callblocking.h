#pragma once

#include <QMetaObject>
#include <QObject>
#include <QThread>

#include <optional>
#include <type_traits>
#include <utility>

// A synchronous call into another thread: runs f in target's thread and waits
// for its result (Qt::BlockingQueuedConnection). Sessions use it to ask the
// main thread for an answer.
//
// Called from target's own thread it runs f directly (a blocking queued call
// there would deadlock). Never call it while holding a lock the target's
// thread may wait for, and never from the main thread into a session.
// If the call cannot be delivered (no target), a default-constructed result
// is returned.
template <class F> auto callBlocking(QObject* target, F&& f) -> std::invoke_result_t<F&>
{
    using Result = std::invoke_result_t<F&>;
    Q_ASSERT(target);
    if (!target || target->thread() == QThread::currentThread()) {
        if constexpr (std::is_void_v<Result>) {
            if (target)
                f();
            return;
        } else {
            if (!target)
                return Result{};
            return f();
        }
    }
    if constexpr (std::is_void_v<Result>) {
        QMetaObject::invokeMethod(
            target, [&f] { f(); }, Qt::BlockingQueuedConnection);
    } else {
        std::optional<Result> result;
        QMetaObject::invokeMethod(
            target, [&f, &result] { result.emplace(f()); }, Qt::BlockingQueuedConnection);
        if (!result)
            return Result{};
        return std::move(*result);
    }
}
