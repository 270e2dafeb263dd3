#pragma once
// One running copy per user. The first copy listens on a per-user local socket; a later copy
// connects to it and either asks it to bring its window to the front (no command line: the
// later copy then ends) or to close (a command line: the later copy goes on starting and
// takes over the socket once the first copy has ended).
#include <QLocalServer>
#include <QObject>
#include <QString>

class SingleInstance : public QObject {
  Q_OBJECT

 public:
  enum class Outcome {
    FirstCopy,     // no other copy: this one listens now
    OtherRaised,   // another copy was asked to come to the front: end this start
    OtherClosing,  // another copy was asked to close: this one listens now
  };

  explicit SingleInstance(QString socketPath, QObject* parent = nullptr);
  // $XDG_RUNTIME_DIR/quillmar.sock, else <temporary folder>/quillmar-<uid>.sock.
  static QString DefaultSocketPath();

  // Runs the rule; listens unless the outcome is OtherRaised.
  Outcome Claim(bool hasCommandLine);

 signals:
  void raiseRequested();
  void closeRequested();

 private:
  void Listen();
  void OnNewConnection();

  QString socketPath_;
  QLocalServer server_;
};
