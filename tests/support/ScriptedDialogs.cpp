#include "ScriptedDialogs.h"

namespace kelvaro::testing {

DialogResult ScriptedDialogs::MessageBox(const std::string& text, const std::string& title,
                                         DialogButtons buttons, DialogIcon icon) {
    messages.push_back({text, title, buttons, icon});
    if (onMessage) {
        onMessage(messages.back());
    }
    if (buttons == DialogButtons::Ok) {
        return DialogResult::Ok;
    }
    if (!answers.empty()) {
        DialogResult r = answers.front();
        answers.pop_front();
        return r;
    }
    return buttons == DialogButtons::OkCancel ? DialogResult::Ok : DialogResult::No;
}

std::string ScriptedDialogs::InputBox(const std::string& title, const std::string& prompt,
                                      const std::string& initialText, bool* cancelled) {
    inputPrompts.push_back(title + "|" + prompt);
    std::optional<std::string> answer;
    if (!inputs.empty()) {
        answer = inputs.front();
        inputs.pop_front();
    }
    if (cancelled) {
        *cancelled = !answer.has_value();
    }
    return answer ? *answer : initialText;
}

std::optional<std::string> ScriptedDialogs::SaveFile(const SaveFileRequest& request) {
    saveRequests.push_back(request);
    if (saveFiles.empty()) {
        return std::nullopt;
    }
    auto answer = saveFiles.front();
    saveFiles.pop_front();
    return answer;
}

bool ScriptedDialogs::OpenWithAssociatedApplication(const std::string& path) {
    openedFiles.push_back(path);
    return true;
}

std::vector<std::string> ScriptedDialogs::Texts() const {
    std::vector<std::string> texts;
    for (const auto& m : messages) {
        texts.push_back(m.text);
    }
    return texts;
}

}  // namespace kelvaro::testing
