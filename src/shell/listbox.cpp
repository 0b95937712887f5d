#include "listbox.h"

#include <QStyle>
#include <QStyledItemDelegate>

// Every row is as wide as the widest line held, so that the view measures a single row (all rows
// have the same height) and still scrolls sideways as far as the longest line needs.
class ListBox::Widths : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        QSize hint = QStyledItemDelegate::sizeHint(option, index);
        hint.setWidth(qMax(hint.width(), widest));
        return hint;
    }
    void widen(int width)
    {
        if (width <= widest)
            return;
        widest = width;
        emit sizeHintChanged({});
    }

    int widest = 0;
};

ListBox::ListBox(int capacity, QWidget *parent)
    : QListWidget(parent)
    , m_capacity(capacity)
    , m_widths(new Widths(this))
{
    setItemDelegate(m_widths);
    setUniformItemSizes(true);
    setTextElideMode(Qt::ElideNone);
    m_frame.setSingleShot(true);
    m_frame.setInterval(FrameMs);
    connect(&m_frame, &QTimer::timeout, this, &ListBox::flush);
}

void ListBox::append(const QString &line)
{
    m_pending.append(line);
    flush();
}

void ListBox::appendSoon(const QString &line)
{
    m_pending.append(line);
    if (!m_frame.isActive())
        m_frame.start();
}

void ListBox::flush()
{
    m_frame.stop();
    if (m_pending.size() > m_capacity)
        m_pending.remove(0, m_pending.size() - m_capacity);
    const int surplus = count() + int(m_pending.size()) - m_capacity;
    if (surplus > 0)
        model()->removeRows(0, surplus);
    for (const QString &line : std::as_const(m_pending))
        measure(line);
    addItems(m_pending);
    m_pending.clear();
}

// The lines of a busy log take turns between a few texts: those just measured are not measured
// again.
void ListBox::measure(const QString &line)
{
    if (line == m_measured[0] || line == m_measured[1])
        return;
    m_measured[1] = std::exchange(m_measured[0], line);
    const int margin = style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1;
    m_widths->widen(fontMetrics().horizontalAdvance(line) + 2 * margin);
}
