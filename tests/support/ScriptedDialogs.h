// A Dialogs implementation for tests: answers prompts from a script and records every message.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "station/Dialogs.h"

namespace kelvaro::testing {

struct RecordedMessage {
    std::string text;
    std::string title;
    DialogButtons buttons;
    DialogIcon icon;
};

class ScriptedDialogs : public Dialogs {
  public:
    // Answers for message boxes with more than one button, in order; when the script runs
    // out, OK/Cancel boxes get Ok and Yes/No boxes get No.
    std::deque<DialogResult> answers;
    // Answers for input boxes: a value is typed, none means Cancel.
    std::deque<std::optional<std::string>> inputs;
    // Answers for the save dialog: a path, none means Cancel.
    std::deque<std::optional<std::string>> saveFiles;

    std::vector<RecordedMessage> messages;
    std::vector<SaveFileRequest> saveRequests;
    std::vector<std::string> inputPrompts;
    std::vector<std::string> openedFiles;
    // Called after each message is recorded (tests use it to act "while the box is open").
    std::function<void(const RecordedMessage&)> onMessage;

    DialogResult MessageBox(const std::string& text, const std::string& title,
                            DialogButtons buttons, DialogIcon icon) override;
    std::string InputBox(const std::string& title, const std::string& prompt,
                         const std::string& initialText, bool* cancelled) override;
    std::optional<std::string> SaveFile(const SaveFileRequest& request) override;
    bool OpenWithAssociatedApplication(const std::string& path) override;

    const RecordedMessage& Last() const { return messages.back(); }
    std::vector<std::string> Texts() const;
};

}  // namespace kelvaro::testing
