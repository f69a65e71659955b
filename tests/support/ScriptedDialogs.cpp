#include "ScriptedDialogs.h"

#include <gtest/gtest.h>

ScriptedDialogs::ScriptedDialogs() : FPrevious(platform::SetDialogs(this)) {}

ScriptedDialogs::~ScriptedDialogs() { platform::SetDialogs(FPrevious); }

platform::ModalResult ScriptedDialogs::MessageBox(const platform::MessageRequest& request)
{
    messages.push_back(request);
    if (FMessageAnswers.empty()) {
        ADD_FAILURE() << "unexpected message box: " << request.text.toStdString();
        return platform::ModalResult::mrCancel;
    }
    auto r = FMessageAnswers.front();
    FMessageAnswers.pop_front();
    return r;
}

std::optional<QString> ScriptedDialogs::FileDialog(const platform::FileDialogRequest& request)
{
    fileDialogs.push_back(request);
    if (FFileAnswers.empty()) {
        ADD_FAILURE() << "unexpected file dialog";
        return std::nullopt;
    }
    // Taken apart and rebuilt: copying the optional whole trips a false
    // "may be used uninitialized" in optimised builds.
    const bool answered = FFileAnswers.front().has_value();
    QString text = answered ? *FFileAnswers.front() : QString();
    FFileAnswers.pop_front();
    return answered ? std::optional<QString>(std::move(text)) : std::nullopt;
}

std::optional<QString> ScriptedDialogs::InputBox(const platform::InputRequest& request)
{
    inputs.push_back(request);
    if (FInputAnswers.empty()) {
        ADD_FAILURE() << "unexpected input box: " << request.prompt.toStdString();
        return std::nullopt;
    }
    // Taken apart and rebuilt: copying the optional whole trips a false
    // "may be used uninitialized" in optimised builds.
    const bool answered = FInputAnswers.front().has_value();
    QString text = answered ? *FInputAnswers.front() : QString();
    FInputAnswers.pop_front();
    return answered ? std::optional<QString>(std::move(text)) : std::nullopt;
}
