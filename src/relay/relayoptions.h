#pragma once

#include "console.h"
#include "mqttlink.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

// One UDP output: datagrams from local port `port` to `host`, port `port`.
struct UdpDestination {
    QString host;
    quint16 port = 0;
};

// What the relay is asked to do, from its command line and its config file, every value checked.
struct RelayOptions {
    // Absolute; empty when no request file is read.
    QString requestFile;
    QList<UdpDestination> udp;
    // The serial line's candidate devices: the one given, or the Bluetooth window's list for
    // "auto". Empty without a serial output.
    QStringList serialDevices;
    bool serialAuto = false;
    qint32 baudRate = 9600;
    int interval = 1;
    bool quiet = false;
    std::optional<MqttSettings> mqtt;
    // The file the MQTT password was read from (the settings file or the password file); empty
    // without a password.
    QString passwordKeptIn;
    // The relay to ask to read its settings again (--reload), instead of running.
    qint64 reloadOf = 0;
    // The Windows service to install, remove or ask to reload instead of running; "run" when the
    // Service Control Manager started it.
    QString service;
};

// The outcome of reading the command line: options to run with, a service to install, remove or
// reload, or a text to print (the help, the version, or one line naming what was wrong) and the
// exit status to end with, or the relay to ask to read its settings again (--reload).
struct CommandLine {
    std::optional<RelayOptions> options;
    QString text;
    ExitStatus exitCode = Ended;
    qint64 reloadOf = 0;
    // --service: install, remove or reload; with install, the absolute path of --config, if given.
    QString service;
    QString settingsFile;
};

template <typename T> class OptionTable;
// The relay's options, each landing in RelayOptions as it is checked; `defaultRequestFile` is
// where the request file is unless one is given.
OptionTable<RelayOptions> relayOptionTable(const QString &defaultRequestFile);

// `arguments` as QCoreApplication::arguments() gives them; `defaultRequestFile` is where the
// request file is unless one is given.
CommandLine readCommandLine(const QStringList &arguments, const QString &defaultRequestFile);
// The same command line read again, its settings file and password file anew, for a reload; or
// why they cannot be used.
Result<RelayOptions> rereadCommandLine(const QStringList &arguments,
                                       const QString &defaultRequestFile);

// Fails, saying so, when the file that keeps the MQTT password can be read by other users: checked
// at the start and at every reload, as the file may have been made readable meanwhile.
Result<void> passwordKeptSecret(const RelayOptions &options);
