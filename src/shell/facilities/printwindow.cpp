#include "printwindow.h"

#include <QPaintEvent>
#include <QPainter>
#include <QWindowStateChangeEvent>

PrintWindow::PrintWindow(QWidget *parent)
    : QWidget(parent)
    , m_lineHeight(lineHeight())
{
}

// Called at every tick: once the window is printed full, a line costs a comparison.
void PrintWindow::print(const QString &line)
{
    const qint64 row = m_printRow++;
    const int height = m_lineHeight;
    if (row * height >= this->height())
        return;
    if (m_rows.size() <= row)
        m_rows.resize(row + 1);
    m_rows[row] = line;
    update(0, int(row) * height, width(), height);
}

void PrintWindow::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    const int height = m_lineHeight;
    const int first = event->rect().top() / height;
    const int last = qMin(int(m_rows.size()) - 1, event->rect().bottom() / height);
    for (int row = first; row <= last; ++row) {
        if (!m_rows[row].isEmpty())
            painter.drawText(QRect(0, row * height, width(), height),
                             Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, m_rows[row]);
    }
}

void PrintWindow::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::WindowStateChange && !isMinimized() &&
        static_cast<QWindowStateChangeEvent *>(event)->oldState().testFlag(Qt::WindowMinimized)) {
        m_rows.clear();
        update();
    }
    if (event->type() == QEvent::FontChange)
        m_lineHeight = lineHeight();
    QWidget::changeEvent(event);
}

int PrintWindow::lineHeight() const
{
    return qMax(1, fontMetrics().lineSpacing());
}
