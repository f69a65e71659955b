#pragma once
// Dialogs answered by the test: each call takes the next queued answer and is
// recorded. An unexpected call fails the test and answers "cancel".
#include "platform/Dialogs.h"

#include <QStringList>
#include <deque>
#include <optional>
#include <vector>

class ScriptedDialogs : public platform::Dialogs {
public:
    ScriptedDialogs();   // installs itself
    ~ScriptedDialogs() override; // restores the previous dialogs

    void AnswerMessage(platform::ModalResult r) { FMessageAnswers.push_back(r); }
    void AnswerFile(std::optional<QString> name) { FFileAnswers.push_back(std::move(name)); }
    void AnswerInput(std::optional<QString> text) { FInputAnswers.push_back(std::move(text)); }

    platform::ModalResult MessageBox(const platform::MessageRequest& request) override;
    std::optional<QString> FileDialog(const platform::FileDialogRequest& request) override;
    std::optional<QString> InputBox(const platform::InputRequest& request) override;

    std::vector<platform::MessageRequest> messages;
    std::vector<platform::FileDialogRequest> fileDialogs;
    std::vector<platform::InputRequest> inputs;

    bool AllAnswersUsed() const
    {
        return FMessageAnswers.empty() && FFileAnswers.empty() && FInputAnswers.empty();
    }

private:
    platform::Dialogs* FPrevious;
    std::deque<platform::ModalResult> FMessageAnswers;
    std::deque<std::optional<QString>> FFileAnswers;
    std::deque<std::optional<QString>> FInputAnswers;
};
