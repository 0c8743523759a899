#pragma once

#include <QString>

// The files this process is writing received data to. A session claims its
// target (and with it the target's ".part" file) before it writes there; a
// second session that meets a claimed target treats it as not writable. The
// claim ends with the object.
class TargetClaim
{
public:
    TargetClaim() = default;
    TargetClaim(TargetClaim&& other) noexcept;
    TargetClaim& operator=(TargetClaim&& other) noexcept;
    TargetClaim(const TargetClaim&) = delete;
    TargetClaim& operator=(const TargetClaim&) = delete;
    ~TargetClaim();

    // Claims target and target + ".part"; an empty claim when another
    // session holds either.
    static TargetClaim take(const QString& target);
    // The same for a target whose real location was just looked up.
    static TargetClaim takeLocated(const QString& realTarget);
    // Whether some session writes target or target + ".part" now.
    static bool isClaimed(const QString& target);

    bool held() const { return !m_keys[0].isEmpty(); }
    void release();

private:
    QString m_keys[2];
};
