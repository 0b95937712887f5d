#pragma once

#include "result.h"

#include <QObject>
#include <QString>

// The service manager that runs the relay, where one does: systemd on Linux, the Service Control
// Manager on Windows. It is told when the relay is ready, reloading and stopping, and what it is
// doing, and it may ask the relay to read its settings again or to stop. Run by hand, nothing is
// told and nothing is asked.
class Supervisor : public QObject {
    Q_OBJECT

public:
    explicit Supervisor(QObject *parent = nullptr);
    ~Supervisor() override;

    // The outputs are bound and the first beat has run; after a reload, the new settings are in
    // force, or, where `took` is false, they were refused and the old ones go on.
    void ready(bool took = true);
    // A reload begins; ready() follows once it is done, whether it took or was refused.
    void reloading();
    // The relay is on its way out.
    void stopping();
    // One short line on what is served and which outputs fail.
    void status(const QString &line);

    // Asks the relay running as process `processId` to read its settings again, and waits until
    // it has: what systemctl reload runs. Fails when the new settings were refused or the relay
    // did not answer.
    static Result<void> askToReload(qint64 processId);

signals:
    void reloadAsked();
    void stopAsked();
};
