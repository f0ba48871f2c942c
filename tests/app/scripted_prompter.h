// Answers the window's boxes in tests: records every message, hands out
// queued file names and custom rate texts (empty when none is queued).
#pragma once

#include <QString>
#include <QStringList>

#include <deque>

#include "app/prompter.h"

namespace corvel::testing {

class ScriptedPrompter : public app::Prompter {
 public:
  using Prompter::ShowMessage;
  void ShowMessage(QWidget*, const QString& text, const QString& title) override {
    messages << text;
    titles << title;
  }
  QString AskOpenFileName(QWidget*, const QString& defaultSuffix, const QString& filter) override {
    suffixes << defaultSuffix;
    filters << filter;
    return Next(fileNames);
  }
  QString AskCustomBaudRate(QWidget*) override { return Next(customRates); }
  bool AskConfirm(QWidget*, const QString& text, const QString&) override {
    questions << text;
    return confirmAnswer;
  }
  Result<void> OpenInEditor(const QString& path) override {
    opened << path;
    return {};
  }

  bool confirmAnswer = true;

  std::deque<QString> fileNames;
  std::deque<QString> customRates;
  QStringList messages, titles, suffixes, filters, opened, questions;

 private:
  static QString Next(std::deque<QString>& queue) {
    if (queue.empty()) return {};
    QString next = queue.front();
    queue.pop_front();
    return next;
  }
};

}  // namespace corvel::testing
