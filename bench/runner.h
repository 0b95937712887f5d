#pragma once

#include <QCommandLineParser>

// Measures every configuration asked for, each in a run of this program of its own (with the
// option --child), and prints the figures of all of them against their targets. With --soak, runs
// only the soak, in the first configuration asked for.
int runConfigurations(const QCommandLineParser &options);
