#pragma once

// What the benchmarks measure with, on Linux.

#include <QDir>
#include <QFile>
#include <QString>

#include <algorithm>
#include <pthread.h>
#include <time.h>
#include <vector>

// The value below which a share `p` of `values` lies: p 0.5 the median, 1 the highest.
inline double percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[std::min(values.size() - 1, size_t(p * values.size()))];
}

inline double median(std::vector<double> values)
{
    return percentile(std::move(values), 0.5);
}

inline double cpuSeconds(clockid_t clock)
{
    timespec ts{};
    clock_gettime(clock, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

inline double threadCpuSeconds(pthread_t thread)
{
    clockid_t clock;
    return pthread_getcpuclockid(thread, &clock) == 0 ? cpuSeconds(clock) : 0;
}

// Every thread of process `pid`, as the scheduler counts it.
inline double processCpuSeconds(qint64 pid)
{
    const QString tasks = QStringLiteral("/proc/%1/task/").arg(pid);
    double ns = 0;
    for (const QString &task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile schedstat(tasks + task + QStringLiteral("/schedstat"));
        if (schedstat.open(QIODevice::ReadOnly))
            ns += schedstat.readAll().split(' ').value(0).toDouble();
    }
    return ns / 1e9;
}
