// The log pane (kLogPaneEdit): where every operation's lines and the chip's
// console text end up. Editable, as users annotate logs before copying them.
#pragma once

#include <QPlainTextEdit>
#include <QTimer>

#include "log/log.h"

namespace corvel::app {

class LogPane : public QPlainTextEdit, public log::LogSink {
  Q_OBJECT
 public:
  static constexpr int kFlushIntervalMs = 60;

  explicit LogPane(QWidget* parent = nullptr);

  // Starts moving console text from `log` into the pane every 60 ms (once;
  // later calls find it running). The log's own pause stops the flushes.
  void StartFlush(log::Log& log);
  bool FlushRunning() const { return flushTimer_.isActive(); }

  // log::LogSink: a line goes at the end with its line break, the cursor
  // after it, the focus in the pane and the end in view.
  void AppendLine(std::string_view line) override;
  // Console text (whole UTF-8 characters), at the end; the focus is not moved.
  void AppendText(std::string_view text) override;
  void Clear() override;

 private:
  void InsertAtEnd(const QString& text);

  QTimer flushTimer_;
  log::Log* log_ = nullptr;
};

}  // namespace corvel::app
