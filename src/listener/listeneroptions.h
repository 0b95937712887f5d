#pragma once

#include <QHostAddress>
#include <QString>
#include <optional>

template <typename T> class OptionTable;

// What the listener is asked to receive, every value checked.
struct ListenerOptions {
    std::optional<quint16> udp;
    QHostAddress address;
    std::optional<QString> serial;
};

// The listener's options, each landing in ListenerOptions as it is checked.
OptionTable<ListenerOptions> listenerOptionTable();
