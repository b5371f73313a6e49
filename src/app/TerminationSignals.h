// The signals that end a desktop session (SIGTERM at logout or shutdown, SIGHUP when the
// terminal goes, SIGINT from Ctrl+C) turned into a Qt signal on the event loop, so the station
// can stop its plates before it ends instead of dying with them streaming.
#pragma once

#include <QObject>
#include <memory>

class QSocketNotifier;

namespace kelvaro {

// While an instance lives the three signals are caught; their handler only writes the signal
// number into a pipe (all it may safely do), and the event loop reads it and emits Received.
// One instance at a time; the destructor puts the previous handlers back.
class TerminationSignals : public QObject {
    Q_OBJECT
  public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

  signals:
    void Received(int signalNumber);

  private:
    void ReadPipe();

    struct Previous;
    std::unique_ptr<Previous> previous_;
    int readFd_ = -1;
    int writeFd_ = -1;
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace kelvaro
