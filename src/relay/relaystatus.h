#pragma once

#include "relayoptions.h"

#include <QObject>
#include <QString>

class Outputs;

// The one line on what is served and which outputs fail: told anew when the relay follows its
// settings and when an output begins to fail or works again.
class RelayStatus : public QObject {
    Q_OBJECT

public:
    explicit RelayStatus(const Outputs &outputs, QObject *parent = nullptr);

    // Follows the outputs of `options`, those kept from before already followed, and tells the
    // line.
    void follow(const RelayOptions &options);

signals:
    void changed(const QString &line);

private:
    void tell();

    const Outputs &m_outputs;
    RelayOptions m_options;
};
