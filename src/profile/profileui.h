#pragma once

#include <QString>

#include <optional>

// How the profile reaches the user. The desktop shows message boxes (top-most),
// the headless node prints and answers from its options, tests record.
class ProfileUi
{
public:
    enum class Icon { Information, Warning, Error };

    virtual ~ProfileUi() = default;

    virtual void showMessage(Icon icon, const QString& caption, const QString& text) = 0;
    // A Yes/No question with the information icon; Yes is true.
    virtual bool askDynamicIp(const QString& caption, const QString& question) = 0;
    // A text prompt pre-filled with current; no value when cancelled.
    virtual std::optional<QString> askScreenName(const QString& title, const QString& prompt,
                                                 const QString& current) = 0;
};
