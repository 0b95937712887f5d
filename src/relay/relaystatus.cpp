#include "relaystatus.h"

#include "outputs.h"
#include "relaychanges.h"

RelayStatus::RelayStatus(const Outputs &outputs, QObject *parent)
    : QObject(parent)
    , m_outputs(outputs)
{
}

void RelayStatus::follow(const RelayOptions &options)
{
    m_options = options;
    for (Output *output : m_outputs.all())
        connect(output, &Output::failingChanged, this, &RelayStatus::tell, Qt::UniqueConnection);
    tell();
}

void RelayStatus::tell()
{
    emit changed(statusLine(m_options, m_outputs.failing()));
}
