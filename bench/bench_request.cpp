// Median cost of one poll cycle with "api.txt" present and absent, and of one buildCommand.
// Prints figures only; nothing here is a pass or fail.
#include "commandbuilder.h"
#include "pollcycle.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {
class Discard : public StatusSink, public Transport {
public:
    void report(const QString &line) override { m_chars += line.size(); }
    bool send(const QString &command) override
    {
        m_chars += command.size();
        return true;
    }
    QString errorString() const override { return {}; }
    qsizetype m_chars = 0;
};

constexpr int Batches = 201;
constexpr int PerBatch = 1000;

template <typename Work> double medianNanoseconds(Work work)
{
    std::vector<double> perCall;
    perCall.reserve(Batches);
    for (int batch = 0; batch < Batches; ++batch) {
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < PerBatch; ++i)
            work();
        perCall.push_back(double(clock.nsecsElapsed()) / PerBatch);
    }
    std::nth_element(perCall.begin(), perCall.begin() + Batches / 2, perCall.end());
    return perCall[Batches / 2];
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    Discard discard;
    const QString success = QStringLiteral("服务器发送成功");
    const QString directory = dir.path();

    const double absent =
        medianNanoseconds([&] { pollOnce(directory, discard, discard, success); });

    QFile file(dir.filePath(QStringLiteral("api.txt")));
    if (!file.open(QIODevice::WriteOnly) ||
        file.write("\xB4\xF2\xBF\xAA\xBF\xD5\xB5\xF7\r\n") != 10)
        return 1;
    file.close();
    const double present =
        medianNanoseconds([&] { pollOnce(directory, discard, discard, success); });

    const QString request = QStringLiteral("请帮我把客厅的空调打开");
    qsizetype sink = 0;
    const double build =
        medianNanoseconds([&] { sink += CommandBuilder::buildCommand(request).size(); });

    std::printf("cores: %d, median of %d batches of %d calls\n", QThread::idealThreadCount(),
                Batches, PerBatch);
    std::printf("pollOnce, api.txt present: %8.2f us\n", present / 1000);
    std::printf("pollOnce, api.txt absent:  %8.2f us\n", absent / 1000);
    std::printf("buildCommand:              %8.2f us\n", build / 1000);
    return discard.m_chars + sink > 0 ? 0 : 1;
}
