#include "app/log_pane.h"

#include <QTextCursor>

namespace corvel::app {

LogPane::LogPane(QWidget* parent) : QPlainTextEdit(parent) {
  setLineWrapMode(QPlainTextEdit::NoWrap);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  // Appended lines cannot be undone, and an undo stack over a long log would
  // only cost memory.
  setUndoRedoEnabled(false);
  flushTimer_.setInterval(kFlushIntervalMs);
  connect(&flushTimer_, &QTimer::timeout, this, [this] {
    if (log_ != nullptr) log_->FlushReceivedText();
  });
}

void LogPane::StartFlush(log::Log& log) {
  log_ = &log;
  if (!flushTimer_.isActive()) flushTimer_.start();
}

void LogPane::InsertAtEnd(const QString& text) {
  QTextCursor cursor(document());
  cursor.movePosition(QTextCursor::End);
  cursor.insertText(text);
  setTextCursor(cursor);
}

void LogPane::AppendLine(std::string_view line) {
  QString text = QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size()));
  text += QLatin1Char('\n');
  InsertAtEnd(text);
  setFocus(Qt::OtherFocusReason);
  ensureCursorVisible();
}

void LogPane::AppendText(std::string_view text) {
  if (text.empty()) return;
  const QString decoded = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  InsertAtEnd(decoded);
  ensureCursorVisible();
}

void LogPane::Clear() { clear(); }

}  // namespace corvel::app
