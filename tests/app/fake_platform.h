#pragma once

#include "app/model/platform.h"

#include <deque>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

/// A desktop that records what the model asked of it and answers questions as the test says.
class FakePlatform : public Platform {
public:
    struct Notification {
        std::string title;
        std::string body;
        Notifier::Target target;
    };

    // The clipboard: what reading returns; writing text replaces both.
    std::vector<std::filesystem::path> clipboardFileList;
    std::optional<std::string> clipboardString;
    int clipboardWrites = 0;

    /// Every question asked, and the answers to give in turn (confirm when none is left).
    std::vector<Alert> alerts;
    std::deque<bool> answers;

    std::vector<std::filesystem::path> openedFiles;
    std::vector<std::string> openedURLs;
    std::vector<std::filesystem::path> revealedFiles;
    std::vector<Notification> notifications;

    std::vector<std::filesystem::path> clipboardFiles() override { return clipboardFileList; }
    std::optional<std::string> clipboardText() override { return clipboardString; }
    void setClipboardText(const std::string& text) override {
        clipboardFileList.clear();
        clipboardString = text;
        ++clipboardWrites;
    }
    std::vector<std::filesystem::path> chooseFiles(const std::string&) override { return {}; }
    bool confirm(const Alert& alert) override {
        alerts.push_back(alert);
        if (answers.empty()) {
            return true;
        }
        const bool answer = answers.front();
        answers.pop_front();
        return answer;
    }
    void activate() override {}
    void openFile(const std::filesystem::path& file) override { openedFiles.push_back(file); }
    void openURL(const std::string& url) override { openedURLs.push_back(url); }
    void revealFile(const std::filesystem::path& file) override { revealedFiles.push_back(file); }
    void notify(const std::string& title, const std::string& body, const Notifier::Target& target) override {
        notifications.push_back({title, body, target});
    }
    void applyAppearance(AppearanceSetting) override {}
};
